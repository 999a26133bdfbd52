#pragma once
// The one thing every part of a split run asks of its caller: whether to
// stop. The writer needs nothing more; a heading rule also needs the keyword
// list (rule_host, core/heading_rule.h) and the run all of split_host
// (core/split.h). Asked on the run's thread.

namespace quorrel {

class stop_host {
 public:
  virtual ~stop_host() = default;

  // Asked between lines: before the first line that is not blank after each
  // call into the host, and once per MiB read, also inside one long line
  // (for a stop that comes from a signal or another thread), and every tick
  // while the run waits on its writer. True ends the run there, keeping what
  // was written whole.
  virtual bool stop_requested() { return false; }
};

}  // namespace quorrel

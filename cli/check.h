#pragma once
// quorrel-split --check: a dry run whose host collects what a reader of
// the pieces would trip over, reported one line each with the source's
// line number, then a summary:
//   - numbering that jumps, repeats or goes back: chapters within a volume
//     (the first chapter after a volume heading may start again at 1 or go
//     on), volumes across the book; numbers are read in every numeral form;
//     the parts of one chapter in their order (第一章（上）, 第一章（下）)
//     are no repeat;
//   - pieces over a size, and pieces (but the text before the first
//     heading) of fewer than three lines;
//   - near misses: lines of the book's own heading style that were refused,
//     with the guard that refused them;
//   - tables of contents left in the text, once each with their lines, and
//     the line after which the book had too many heading-like lines to weigh.
//
// The report is written as the run goes, in the order of the source, each
// line once nothing can come before it any more: what a piece's findings
// are is known only when the piece ends, so the findings inside it wait
// for it, in memory up to a budget and beyond that in a scratch file.
// Memory stays bounded whatever the book.

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/split.h"

namespace quorrel::cli {

class check_host : public fixed_keywords {
 public:
  // Each line of the report goes to `out`, ending in a newline, with
  // control characters shown as escapes (visible()). `out` says false when
  // the report cannot go on (its reader has gone, or the disk is full),
  // which ends the run as a stop signal does.
  check_host(std::vector<std::string> keywords, std::uint64_t size_limit, std::string source,
             std::function<bool(const std::string&)> out)
      : fixed_keywords(std::move(keywords)),
        size_limit_(size_limit),
        source_(std::move(source)),
        out_(std::move(out)) {}

  void encoding_known(const encoding& enc) override { enc_ = enc; }
  void heading_seen(line_kind kind, std::int64_t line, std::string_view text) override;
  void piece_done(const piece_info& piece) override;
  void contents_skipped(std::int64_t first, std::int64_t last) override;
  void shapes_only_after(std::int64_t line) override;
  bool stop_requested() override;

  // The findings still waiting, then the summary line.
  void finish(std::int64_t pieces);
  bool found_anything() const { return found_ > 0; }

 private:
  struct finding {
    std::int64_t line;
    std::string text;  // "SOURCE:LINE: what\n", made visible
  };

  // Findings in the order they came, oldest first: the newest in memory up
  // to a budget, the older ones in a scratch file.
  class queue {
   public:
    void push(finding f);
    const finding* front();  // null when none waits
    void pop();

   private:
    struct closer {
      void operator()(std::FILE* f) const { std::fclose(f); }
    };
    void spill();
    std::deque<finding> memory_;
    std::size_t memory_bytes_ = 0;
    std::unique_ptr<std::FILE, closer> file_;
    bool no_file_ = false;  // none could be had, or it failed: all stays in memory
    std::fpos_t read_at_{}, end_at_{};
    std::uint64_t in_file_ = 0;    // findings in the file not yet read
    std::optional<finding> next_;  // the oldest, read from the file
  };

  // Before the run: a table of contents (first to last), or the line after
  // which only shapes count (last < 0).
  struct early {
    std::int64_t line, last;
  };

  struct sequence {
    bool started = false;
    std::int64_t last = 0;
    int part = 0;  // of the last chapter: 1 上, 2 中, 3 下, 0 none
  };
  void number(sequence& numbers, bool fresh, int part, std::int64_t value, std::int64_t line,
              const std::string& heading);
  void add(std::int64_t line, const std::string& what);
  void write_through(std::int64_t line);  // what waits up to `line`
  void write(std::int64_t line, const std::string& text);
  void put(const std::string& text);  // to `out`, until it fails

  std::uint64_t size_limit_;
  std::string source_;
  std::function<bool(const std::string&)> out_;
  bool out_failed_ = false;
  encoding enc_;
  sequence chapters_, volumes_;
  bool new_volume_ = false;  // no chapter yet since the last volume heading
  std::int64_t outer_ = -1;  // the outer chapter of 第一章 第二节 lines
  queue waiting_;
  std::vector<early> early_;  // in the order of the source
  std::size_t early_done_ = 0;
  std::int64_t found_ = 0, numbering_ = 0, large_ = 0, short_ = 0, near_misses_ = 0;
};

}  // namespace quorrel::cli

#pragma once
// How the run tells a heading from body text: one small interface, chosen
// once per run (core/heading_choice.h), with one file per rule behind it:
// core/keyword_rule.h, core/form_rule.h, core/pattern_rule.h.
//
// A rule sees one line at a time, without its line end, in the source's
// encoding; it never allocates per line. A line too long to hold is given
// in parts (begin_parts, part, found), as heading_test (core/keyword_rule.h)
// describes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/book_survey.h"
#include "core/file.h"
#include "core/line_kind.h"
#include "core/stop_host.h"
#include "core/text.h"  // probe_bytes

namespace quorrel {

// What a rule asks of the run's caller. Called on the run's thread.
class rule_host : public stop_host {
 public:
  // The keyword list (UTF-8), asked for afresh before each line is tested:
  // keywords_version() every time, keywords() only when the version differs
  // from the last one seen. Change the version whenever the list changes.
  virtual std::uint64_t keywords_version() = 0;
  virtual std::vector<std::string> keywords() = 0;

  // Before the run, with the form rule: a table of contents (lines `first`
  // to `last`) whose entries start no piece, and the line after which the
  // book held too many heading-like lines to weigh, so that the lines after
  // it are judged by their form alone.
  virtual void contents_skipped(std::int64_t first, std::int64_t last) {
    (void)first;
    (void)last;
  }
  virtual void shapes_only_after(std::int64_t line) { (void)line; }
};

// Thrown by classify() and part() when the run must end at the line being
// read: the host asked to stop in the middle of a match, or the pattern
// could not decide the line (too slow, or ICU's backtracking stack full).
// The run catches it, removes the piece being gathered and keeps the rest.
struct rule_halt {
  bool undecided = false;  // false: a stop the host asked for
};

class heading_rule {
 public:
  virtual ~heading_rule() = default;

  // Before each line that is not blank. A rule that follows the host (the
  // keyword list, asked afresh for every line) updates itself here; true
  // when it changed, so that longest() and probe() may have changed too.
  virtual bool refresh(rule_host& host) {
    (void)host;
    return false;
  }
  // Bytes every heading holds side by side ({} if none): the run's line-end
  // search notes lines without them, which are then never classified.
  virtual probe_bytes probe() const { return {}; }

  // Once before the run, from byte `from` of the source (after its mark) to
  // its end (`size` bytes when opened): a rule that judges a line by the
  // whole book reads the book here (core/book_survey.h). The host is asked
  // to stop once per block read.
  virtual book_survey survey(const file::handle& source, std::int64_t from, std::uint64_t size,
                             rule_host& host) {
    (void)source;
    (void)from;
    (void)size;
    (void)host;
    return {};
  }

  // `number` is the line's number in the source (1-based).
  virtual line_kind classify(std::string_view line, std::int64_t number) = 0;

  virtual void begin_parts() = 0;
  // Where the next window must start; see heading_test::part.
  virtual std::size_t part(std::string_view window, std::size_t base, bool last) = 0;
  virtual line_kind found() const = 0;
  // Bytes the rule may carry from one window to the next, beyond 8.
  virtual std::size_t longest() const { return 0; }
};

}  // namespace quorrel

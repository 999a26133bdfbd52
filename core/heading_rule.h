#pragma once
// How the run tells a heading from body text: one small interface, chosen
// once per run, with three rules behind it.
//
//  - keywords: every keyword of the host's list occurs in the line (the
//    window's rule, and the default of quorrel-split); see heading_test.
//  - form: the line has a heading's form (core/heading_form.h) that the book
//    itself uses for its headings; the rule reads the whole source once
//    before the run to learn which (core/heading_book.h).
//  - pattern: an ICU regular expression finds a match in the decoded line.
//    A match is bounded: the host is asked to stop at every step of ICU's
//    match engine, and a line the pattern cannot decide within
//    pattern_step_limit steps ends the run (rule_halt). A line longer than
//    the read buffer (1 MiB) is searched in its first MiB only.
//
// A rule sees one line at a time, without its line end, in the source's
// encoding; it never allocates per line. A line too long to hold is given
// in parts (begin_parts, part, found), as heading_test describes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/book_survey.h"
#include "core/encoding.h"
#include "core/file.h"
#include "core/line_kind.h"
#include "core/stop_host.h"
#include "core/text.h"

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

// ICU steps (each some ten thousand operations of its match engine, about
// 0.2 ms on a 2-core machine of 2026) a pattern may take over one line:
// about a second. An anchored or literal pattern needs a few per MiB.
inline constexpr int pattern_step_limit = 5000;

// Thrown by classify() and part() when the run must end at the line being
// read: the host asked to stop in the middle of a match, or the pattern
// could not decide the line (too slow, or ICU's backtracking stack full).
// The run catches it, removes the piece being gathered and keeps the rest.
struct rule_halt {
  bool undecided = false;  // false: a stop the host asked for
};

struct heading_choice {
  enum class rule { keywords, form, pattern };
  rule which = rule::keywords;
  std::string pattern;  // UTF-8, for rule::pattern; check it with pattern_problem() first
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
  virtual book_survey survey(const file::handle& source, std::int64_t from, std::uint64_t size, rule_host& host) {
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

// The rule for a run over a source in `enc`; `sample` is the start of the
// source (the keyword rule learns which bytes are rare from it). nullptr
// only for a pattern that pattern_problem() refuses.
std::unique_ptr<heading_rule> make_heading_rule(const heading_choice& choice, const encoding& enc,
                                                std::string_view sample);

// Why ICU refuses a regular expression, and where: nullopt when it is good.
struct pattern_error {
  std::string reason;  // ICU's name for it, e.g. U_REGEX_MISMATCHED_PAREN, or a sentence
  int line = 0;        // 1-based; 0 when ICU does not say
  int offset = 0;      // 1-based, in characters of that line; 0 when no place is meant
};
std::optional<pattern_error> pattern_problem(const std::string& utf8_pattern);

}  // namespace quorrel

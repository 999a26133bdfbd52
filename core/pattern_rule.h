#pragma once
// The pattern rule: a line is a heading when an ICU regular expression
// finds a match in the decoded line. A match is bounded: the host is asked
// to stop at every step of ICU's match engine, and a line the pattern cannot
// decide within pattern_step_limit steps ends the run (rule_halt). A line
// longer than the read buffer (1 MiB) is searched in its first MiB only.

#include <memory>
#include <optional>
#include <string>

#include "core/encoding.h"
#include "core/heading_rule.h"

namespace quorrel {

// ICU steps (each some ten thousand operations of its match engine, about
// 0.2 ms on a 2-core machine of 2026) a pattern may take over one line:
// about a second. An anchored or literal pattern needs a few per MiB.
inline constexpr int pattern_step_limit = 5000;

// Why ICU refuses a regular expression, and where.
struct pattern_error {
  std::string reason;  // ICU's name for it, e.g. U_REGEX_MISMATCHED_PAREN, or a sentence
  int line = 0;        // 1-based; 0 when ICU does not say
  int offset = 0;      // 1-based, in characters of that line; 0 when no place is meant
};

// A rule, or why it could not be made.
struct rule_or_error {
  std::unique_ptr<heading_rule> rule;  // null exactly when error is set
  std::optional<pattern_error> error;
};

// The rule for `utf8_pattern` over a source in `enc`: the pattern is
// compiled once, here.
rule_or_error make_pattern_rule(const std::string& utf8_pattern, const encoding& enc);

// Why ICU refuses `utf8_pattern`, for a check before any run: nullopt when
// it is good.
std::optional<pattern_error> pattern_problem(const std::string& utf8_pattern);

}  // namespace quorrel

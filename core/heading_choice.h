#pragma once
// Which heading rule a run uses, by name and by value, and the one place
// that makes it: keywords (core/keyword_rule.h), form (core/form_rule.h,
// named "auto"), pattern (core/pattern_rule.h).

#include <optional>
#include <string>
#include <string_view>

#include "core/encoding.h"
#include "core/pattern_rule.h"  // rule_or_error

namespace quorrel {

struct heading_choice {
  enum class rule { keywords, form, pattern };
  rule which = rule::keywords;
  std::string pattern;  // UTF-8, for rule::pattern
};

// The name a user gives each rule (the command line's --headings, the
// contents file).
std::string_view rule_name(heading_choice::rule which);

// The rule a name given for --headings chooses, as equal_ignoring_case
// compares names; nullopt for any other name. A pattern is chosen by giving
// the pattern, never by its name.
std::optional<heading_choice::rule> rule_named(std::string_view name);

// The rule for a run over a source in `enc`; `sample` is the start of the
// source (the keyword rule learns which bytes are rare from it). Only a
// pattern can fail to make its rule: the error says why.
rule_or_error make_heading_rule(const heading_choice& choice, const encoding& enc, std::string_view sample);

}  // namespace quorrel

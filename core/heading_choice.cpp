#include "core/heading_choice.h"

#include "core/form_rule.h"
#include "core/keyword_rule.h"

namespace quorrel {
namespace {

// By heading_choice::rule.
constexpr std::string_view names[] = {"keywords", "auto", "pattern"};

}  // namespace

std::string_view rule_name(heading_choice::rule which) { return names[static_cast<int>(which)]; }

std::optional<heading_choice::rule> rule_named(std::string_view name) {
  for (const auto which : {heading_choice::rule::keywords, heading_choice::rule::form})
    if (equal_ignoring_case(name, rule_name(which))) return which;
  return std::nullopt;
}

rule_or_error make_heading_rule(const heading_choice& choice, const encoding& enc, std::string_view sample) {
  switch (choice.which) {
    case heading_choice::rule::keywords: return {make_keyword_rule(enc, sample), std::nullopt};
    case heading_choice::rule::form: return {make_form_rule(enc), std::nullopt};
    case heading_choice::rule::pattern: break;
  }
  return make_pattern_rule(choice.pattern, enc);
}

}  // namespace quorrel

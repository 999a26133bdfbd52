#include "core/heading_choice.h"

#include "core/form_rule.h"
#include "core/keyword_rule.h"

namespace quorrel {
namespace {

struct named_rule {
  std::string_view name;
  heading_choice::rule which;
};
constexpr named_rule names[] = {{"keywords", heading_choice::rule::keywords},
                                {"auto", heading_choice::rule::form},
                                {"pattern", heading_choice::rule::pattern}};

}  // namespace

std::string_view rule_name(heading_choice::rule which) {
  for (const named_rule& n : names)
    if (n.which == which) return n.name;
  return {};
}

std::optional<heading_choice::rule> rule_named(std::string_view name) {
  for (const named_rule& n : names)
    if (n.which != heading_choice::rule::pattern && equal_ignoring_case(name, n.name)) return n.which;
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

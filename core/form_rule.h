#pragma once
// The form rule ("auto"): a line is a heading when it has a heading's form
// (core/heading_form.h) that the book itself uses for its headings. The rule
// reads the whole source once before the run (survey) to learn which
// (core/heading_book.h); without a survey, or past the lines the book could
// note, a line is judged by its form alone.

#include <memory>

#include "core/encoding.h"
#include "core/heading_rule.h"

namespace quorrel {

std::unique_ptr<heading_rule> make_form_rule(const encoding& enc);

}  // namespace quorrel

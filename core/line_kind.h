#pragma once
// What a heading rule makes of a line. near_miss: a line that has a
// heading's form but was refused by one of the guards against body text;
// the run treats it as body text and only reports it.

namespace quorrel {

enum class line_kind { body, near_miss, chapter, volume, special };

}  // namespace quorrel

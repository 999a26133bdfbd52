#pragma once
// The table of contents of a split as one JSON document (UTF-8): the
// source, its encoding, the heading rule, the encoding of the pieces, and
// per piece its number, path and file name, kind, title, where it starts in
// the source (line and byte) and its size. Text that is not valid UTF-8 (a
// path given in bytes) is shown with U+FFFD in place of the bad sequences.

#include <cstdint>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/heading_rule.h"
#include "core/split.h"

namespace quorrel::cli {

struct contents {
  std::string source;
  encoding source_encoding;
  encoding pieces_encoding;
  heading_choice rule;
  std::vector<std::string> keywords;  // UTF-8, for the keyword rule
  struct piece {
    std::int64_t number = 0;
    std::string path;
    piece_kind kind = piece_kind::chapter;
    std::string title;  // UTF-8, blanks at either end dropped; none for front matter
    std::int64_t line = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
  };
  std::vector<piece> pieces;
};

std::string to_json(const contents& table);

}  // namespace quorrel::cli

#pragma once
// Pieces named by their headings: "0001 第一章 风起.txt". The title is the
// heading line made safe as a file name on every system the pieces may be
// copied to, so the same split gives the same names on Linux and Windows:
//   - blanks (space, tab, ideographic space) and control characters at
//     either end dropped, every inner run of them made one space;
//   - \ / : * ? " < > | replaced by their full-width forms, which read the
//     same and which Windows allows;
//   - trailing dots dropped (Windows would drop them itself, and the name
//     would no longer be the one written);
//   - cut at 60 characters (code points), never inside one.
// Windows' reserved device names (CON, NUL...) need nothing: the name
// always starts with the piece's number. Names of both forms sort in
// reading order, and never collide: a titled name always holds a space
// after the number, a plain one never does.

#include <cstdint>
#include <string>
#include <string_view>

namespace quorrel {

inline constexpr std::size_t title_characters = 60;  // the most a title keeps

// The title for a heading line (valid UTF-8); "" when nothing is left.
std::string file_title(std::string_view utf8_heading);

// destination + number (at least four digits) + " " + title + ".txt", or
// the plain piece_path when `title` is empty.
std::string titled_piece_path(const std::string& destination, std::int64_t number, std::string_view title);

}  // namespace quorrel

#pragma once
// How pieces are named, both ways: the plain name of piece 1 of destination
// "out/" is "out/0001.txt"; the number a file name in the pieces' folder
// stands for, if any.
//
// Pieces named by their headings: "0001 第一章 风起.txt". The title is the
// heading line made safe as a file name on every system the pieces may be
// copied to, so the same split gives the same names on Linux and Windows:
//   - blanks (space, tab, ideographic space) and control characters at
//     either end dropped, every inner run of them made one space;
//   - \ / : * ? " < > | replaced by their full-width forms, which read the
//     same and which Windows allows;
//   - trailing dots dropped (Windows would drop them itself, and the name
//     would no longer be the one written);
//   - characters that show nothing (zero-width U+200B-200D, U+2060,
//     U+FEFF) or reorder the text around them (the bidi controls U+200E,
//     U+200F, U+202A-202E, U+2066-2069) dropped;
//   - cut at 60 characters (code points), never inside one, and further
//     where the name would pass the system's limit on one name (255 bytes
//     on Linux, 255 UTF-16 units on Windows): the name's last component,
//     from the destination's last separator to ".txt", fits it.
// Windows' reserved device names (CON, NUL...) need nothing: the name
// always starts with the piece's number. Names of both forms sort in
// reading order, and never collide: a titled name always holds a space
// after the number, a plain one never does.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/path.h"  // windows_names

namespace quorrel {

enum class piece_names {
  numbers,  // 0000.txt, 0001.txt...
  titles,   // also 0001 <title>.txt
};

// destination + number ("0000" pattern: at least four digits) + ".txt"
std::string piece_path(const std::string& destination, std::int64_t number);

// The piece number a file name in the pieces' folder stands for, when it is
// "<name_prefix><digits>.txt", or with titles also "<name_prefix><digits>
// <title>.txt": nullopt for any other name. Only the numbers piece_path
// writes count: four digits, or more without a leading zero. The prefix and
// ".txt" are compared as the file system compares names.
std::optional<std::int64_t> piece_number(std::string_view file_name, std::string_view name_prefix,
                                         piece_names names);

inline constexpr std::size_t title_characters = 60;  // the most a title keeps
inline constexpr std::size_t name_limit = 255;       // bytes on Linux, UTF-16 units on Windows

// The title for a heading line (valid UTF-8); "" when nothing is left.
std::string file_title(std::string_view utf8_heading);

// destination + number (at least four digits) + " " + title + ".txt", the
// title cut to fit name_limit, or the plain piece_path when nothing of the
// title fits. `windows`: the limit counts UTF-16 units and "\" separates too.
std::string titled_piece_path(const std::string& destination, std::int64_t number, std::string_view title,
                              bool windows = windows_names);

}  // namespace quorrel

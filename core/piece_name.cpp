#include "core/piece_name.h"

#include <charconv>
#include <cstdio>  // snprintf

#include "core/file.h"  // same_name
#include "core/path.h"  // windows_names

namespace quorrel {
namespace {

// One code point of valid UTF-8 at the start of `s`: its value and length.
char32_t next_code_point(std::string_view s, std::size_t& length) {
  const auto lead = static_cast<unsigned char>(s[0]);
  length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (length > s.size()) length = s.size();
  char32_t c = length == 1 ? lead : lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
  return c;
}

bool is_blank_or_control(char32_t c) {
  return c == U' ' || c == U'\u3000' || c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Characters that show nothing but can reorder or join what is around
// them: a name holding one looks like another, or reads backwards.
bool is_invisible(char32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) ||
         c == 0xFEFF;
}

// What one character of `length` UTF-8 bytes takes of the system's limit
// on a name: its bytes, or its UTF-16 units on Windows.
std::size_t units(std::size_t length, bool windows) { return !windows ? length : length == 4 ? 2 : 1; }

std::size_t name_units(std::string_view utf8, bool windows) {
  std::size_t total = 0;
  for (std::size_t at = 0, length = 0; at < utf8.size(); at += length) {
    next_code_point(utf8.substr(at), length);
    total += units(length, windows);
  }
  return total;
}

// `title` cut at a character so that it takes at most `room` units, and
// without the blank or dots the cut may leave at its end.
std::string_view cut_title(std::string_view title, std::size_t room, bool windows) {
  std::size_t keep = 0, used = 0;
  for (std::size_t length = 0; keep < title.size(); keep += length) {
    next_code_point(title.substr(keep), length);
    used += units(length, windows);
    if (used > room) break;
  }
  title = title.substr(0, keep);
  while (!title.empty() && (title.back() == '.' || title.back() == ' ')) title.remove_suffix(1);
  return title;
}

// The full-width form of a character Windows forbids in a name, or 0.
std::string_view full_width(char32_t c) {
  switch (c) {
    case U'\\': return "\uFF3C";
    case U'/': return "\uFF0F";
    case U':': return "\uFF1A";
    case U'*': return "\uFF0A";
    case U'?': return "\uFF1F";
    case U'"': return "\uFF02";
    case U'<': return "\uFF1C";
    case U'>': return "\uFF1E";
    case U'|': return "\uFF5C";
    default: return {};
  }
}

// The number of a stem "<name_prefix><digits>". The name is read from its end, so that the prefix is compared
// as the file system compares names (its case may differ, and with it the length of its UTF-8), and a prefix
// that ends in digits itself is tried at every length.
std::optional<std::int64_t> stem_number(std::string_view stem, std::string_view name_prefix) {
  std::size_t digits_at = stem.size();
  while (digits_at > 0 && stem[digits_at - 1] >= '0' && stem[digits_at - 1] <= '9') --digits_at;
  for (std::size_t length = 4; length <= 18 && length <= stem.size() - digits_at; ++length) {
    const std::string_view digits = stem.substr(stem.size() - length);
    if (length > 4 && digits.front() == '0') continue;
    if (!file::same_name(stem.substr(0, stem.size() - length), name_prefix)) continue;
    std::int64_t number = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), number);
    return number;
  }
  return std::nullopt;
}

}  // namespace

std::string piece_path(const std::string& destination, std::int64_t number) {
  char digits[24];
  const int length = std::snprintf(digits, sizeof digits, "%04lld", static_cast<long long>(number));
  std::string path;
  path.reserve(destination.size() + static_cast<std::size_t>(length) + 4);
  path.append(destination).append(digits, static_cast<std::size_t>(length)).append(".txt");
  return path;
}

std::optional<std::int64_t> piece_number(std::string_view file_name, std::string_view name_prefix,
                                         piece_names names) {
  constexpr std::string_view extension = ".txt";
  if (file_name.size() < extension.size() ||
      !file::same_name(file_name.substr(file_name.size() - extension.size()), extension))
    return std::nullopt;
  const std::string_view stem = file_name.substr(0, file_name.size() - extension.size());
  if (const auto number = stem_number(stem, name_prefix)) return number;
  if (names != piece_names::titles) return std::nullopt;
  for (std::size_t space = stem.find(' '); space != std::string_view::npos; space = stem.find(' ', space + 1))
    if (const auto number = stem_number(stem.substr(0, space), name_prefix)) return number;
  return std::nullopt;
}

std::string file_title(std::string_view heading) {
  std::string title;
  std::size_t characters = 0;
  bool blank_pending = false;
  for (std::size_t at = 0, length = 0; at < heading.size() && characters < title_characters; at += length) {
    const char32_t c = next_code_point(heading.substr(at), length);
    if (is_invisible(c)) continue;
    if (is_blank_or_control(c)) {
      blank_pending = !title.empty();
      continue;
    }
    if (blank_pending) {
      title += ' ';
      blank_pending = false;
      if (++characters == title_characters) break;
    }
    const std::string_view replaced = full_width(c);
    title += replaced.empty() ? heading.substr(at, length) : replaced;
    ++characters;
  }
  // A cut may leave a blank or dots at the end, which Windows drops.
  while (!title.empty() && (title.back() == '.' || title.back() == ' ')) title.pop_back();
  return title;
}

std::string titled_piece_path(const std::string& destination, std::int64_t number, std::string_view title,
                              bool windows) {
  std::string path = piece_path(destination, number);
  // The name's last component: the destination after its last separator,
  // the number, a space, the title and ".txt".
  const std::size_t last = path.find_last_of(windows ? "\\/" : "/");
  const std::size_t plain =
      name_units(std::string_view(path).substr(last == path.npos ? 0 : last + 1), windows);
  if (plain + 1 >= name_limit) return path;
  title = cut_title(title, name_limit - plain - 1, windows);
  if (title.empty()) return path;
  path.insert(path.size() - 4, " ").insert(path.size() - 4, title);
  return path;
}

}  // namespace quorrel

#include "core/text.h"

#include <algorithm>
#include <cstring>  // memcpy

namespace quorrel {
namespace {

unsigned char byte_at(std::string_view s, std::size_t i) { return static_cast<unsigned char>(s[i]); }

// Length in bytes of the character starting at `i`. Bytes that do not form a
// valid character count as one character each, so a walk never skips a
// byte that may start a real one.
std::size_t gb18030_length(std::string_view s, std::size_t i) {
  const unsigned char lead = byte_at(s, i);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= s.size()) return 1;
  const unsigned char second = byte_at(s, i + 1);
  if (second >= 0x30 && second <= 0x39) {
    if (i + 3 < s.size()) {
      const unsigned char third = byte_at(s, i + 2), fourth = byte_at(s, i + 3);
      if (third >= 0x81 && third <= 0xFE && fourth >= 0x30 && fourth <= 0x39) return 4;
    }
    return 1;
  }
  return (second >= 0x40 && second <= 0xFE && second != 0x7F) ? 2 : 1;
}

std::size_t big5_length(std::string_view s, std::size_t i) {
  const unsigned char lead = byte_at(s, i);
  if (lead < 0x81 || lead == 0xFF || i + 1 >= s.size()) return 1;
  const unsigned char trail = byte_at(s, i + 1);
  return ((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE)) ? 2 : 1;
}

// Blanks are a few bytes long: a plain loop beats a call to memcmp.
bool same_bytes(const char* at, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    if (at[i] != bytes[i]) return false;
  return true;
}

}  // namespace

line_rules::line_rules(const encoding& enc)
    : layout_(enc.layout), wide_(layout_ == char_layout::utf16le || layout_ == char_layout::utf16be) {
  // In the encodings we walk, space, tab, CR and LF are ASCII bytes, or
  // ASCII code units in UTF-16.
  auto ascii = [&](char c) {
    if (layout_ == char_layout::utf16le) return std::string{c, '\0'};
    if (layout_ == char_layout::utf16be) return std::string{'\0', c};
    return std::string(1, c);
  };
  std::string ideographic_space;
  switch (layout_) {
    case char_layout::utf8: ideographic_space = "\xE3\x80\x80"; break;
    case char_layout::gb18030: ideographic_space = "\xA1\xA1"; break;
    case char_layout::big5: ideographic_space = "\xA1\x40"; break;
    case char_layout::utf16le: ideographic_space = std::string("\x00\x30", 2); break;
    case char_layout::utf16be: ideographic_space = std::string("\x30\x00", 2); break;
    case char_layout::single_byte: break;
  }
  auto as_blank = [](const std::string& bytes) {
    blank b{{}, bytes.size()};
    std::memcpy(b.bytes, bytes.data(), bytes.size());
    return b;
  };
  blanks_ = {as_blank(ideographic_space), as_blank(ascii(' ')), as_blank(ascii('\t'))};
  crlf_ = ascii('\r') + ascii('\n');
}

line_end line_rules::find_end_wide(std::string_view text) const {
  const std::size_t size = text.size();
  const bool le = layout_ == char_layout::utf16le;
  const std::size_t units = size / 2;
  for (std::size_t u = 0; u < units; ++u) {
    const unsigned char lo = byte_at(text, 2 * u + (le ? 0 : 1));
    const unsigned char hi = byte_at(text, 2 * u + (le ? 1 : 0));
    if (hi != 0 || (lo != '\r' && lo != '\n')) continue;
    if (lo == '\n') return {2 * u, 2};
    const bool then_lf = u + 1 < units && byte_at(text, 2 * u + 2 + (le ? 0 : 1)) == '\n' &&
                         byte_at(text, 2 * u + 2 + (le ? 1 : 0)) == 0;
    return {2 * u, then_lf ? 4u : 2u};
  }
  return {size, 0};
}

bool line_rules::is_blank_wide(std::string_view line) const { return blank_length(line) == line.size(); }

std::size_t line_rules::blank_length(std::string_view text) const {
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* p = begin;
  while (p < end) {
    const auto left = static_cast<std::size_t>(end - p);
    const blank* b = blanks_.data();
    const blank* const none = b + blanks_.size();
    while (b != none && !(b->size != 0 && b->size <= left && same_bytes(p, b->bytes, b->size))) ++b;
    if (b == none) break;
    p += b->size;
  }
  return static_cast<std::size_t>(p - begin);
}

std::size_t line_rules::longest_blank() const {
  std::size_t longest = 0;
  for (const blank& b : blanks_) longest = std::max(longest, b.size);
  return longest;
}

bool line_rules::starts_character(std::string_view line, std::size_t pos, std::size_t& walked) const {
  if (layout_ != char_layout::gb18030 && layout_ != char_layout::big5) walked = std::max(walked, pos);
  switch (layout_) {
    case char_layout::single_byte: return true;
    case char_layout::utf8: return pos >= line.size() || (byte_at(line, pos) & 0xC0) != 0x80;
    case char_layout::utf16le:
    case char_layout::utf16be: {
      if (pos % 2 != 0) return false;
      if (pos + 1 >= line.size()) return true;
      const unsigned char high = byte_at(line, pos + (layout_ == char_layout::utf16le ? 1 : 0));
      return high < 0xDC || high > 0xDF;  // not the second half of a surrogate pair
    }
    case char_layout::gb18030:
      while (walked < pos) walked += gb18030_length(line, walked);
      return walked == pos;
    case char_layout::big5:
      while (walked < pos) walked += big5_length(line, walked);
      return walked == pos;
  }
  return false;
}

}  // namespace quorrel

#include "core/shape_filter.h"

#include <algorithm>

namespace quorrel {
namespace {

unsigned pair(char a, char b) {
  return static_cast<unsigned>(static_cast<unsigned char>(a)) << 8 | static_cast<unsigned char>(b);
}

std::string utf8_of(char16_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

constexpr std::u16string_view numerals =
    u"〇○零一二两兩三四五六七八九十百千万萬亿億廿卅壹贰貳貮叁參叄肆伍陆陸柒捌玖拾佰仟";
constexpr std::u16string_view digits = u"0123456789０１２３４５６７８９";
constexpr std::u16string_view blanks = u"\u3000 \t\u00A0";  // the usual indent first

// Section words by their first two characters; 序 and 跋 stand alone.
constexpr std::u16string_view section_pairs[] = {
    u"完本", u"上架", u"作者", u"出版", u"重印", u"译者", u"譯者", u"译后", u"譯後",
    u"结束", u"結束", u"原序", u"代序", u"新序", u"自序", u"楔子", u"引子", u"引言",
    u"前言", u"尾声", u"尾聲", u"后记", u"後記", u"终章", u"終章", u"番外", u"外传",
    u"外傳", u"附录", u"附錄", u"释名", u"釋名", u"解说", u"解說"};

// The code point of the UTF-8 character that starts at `s`'s first byte
// (or ends at its last), 0xFFFF past the BMP or for a broken one.
unsigned utf8_first(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(s[i])); };
  if (b(0) < 0x80) return b(0);
  if (b(0) >= 0xC0 && b(0) < 0xE0 && s.size() >= 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  if (b(0) >= 0xE0 && b(0) < 0xF0 && s.size() >= 3)
    return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return 0xFFFF;
}

unsigned utf8_last(std::string_view s) {
  std::size_t start = s.size() - 1;
  while (start > 0 && s.size() - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  return utf8_first(s.substr(start));
}

// Whether `s` holds `bytes` (one short character) at `at`: compared byte by
// byte, which beats a call to memcmp for a few bytes on every line.
bool holds_at(std::string_view s, std::size_t at, const std::string& bytes) {
  if (at + bytes.size() > s.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (s[at + i] != bytes[i]) return false;
  return true;
}

}  // namespace

// A character's key: its code point in UTF-8, its first (or last) two
// bytes in every other encoding, which tell a two-byte character exactly.
unsigned shape_filter::first_key(std::string_view s) const {
  return enc_.layout == char_layout::utf8 ? utf8_first(s) : pair(s[0], s[1]);
}

unsigned shape_filter::last_key(std::string_view s) const {
  return enc_.layout == char_layout::utf8 ? utf8_last(s) : pair(s[s.size() - 2], s[s.size() - 1]);
}

shape_filter::shape_filter(const encoding& enc) : enc_(enc) {
  // Each character's key; a one-byte character in an encoding keyed by
  // pairs marks every pair it begins (or ends).
  auto mark = [&](std::u16string_view set, std::bitset<65536>& bits, bool at_end) {
    for (char16_t c : set) {
      if (enc.layout == char_layout::utf8) {
        bits.set(c);
        continue;
      }
      const auto bytes = encode(utf8_of(c), enc);
      if (!bytes || bytes->empty()) continue;  // not in this encoding
      const std::string_view b = *bytes;
      if (b.size() == 1) {
        for (unsigned other = 0; other < 256; ++other)
          bits.set(at_end ? (other << 8 | static_cast<unsigned char>(b[0]))
                          : pair(b[0], static_cast<char>(other)));
      } else {
        bits.set(at_end ? pair(b[b.size() - 2], b[b.size() - 1]) : pair(b[0], b[1]));
      }
    }
  };
  mark(u"第卷序跋【[（(《◆◇■□●★☆※pPcC“\uFEFF", always_, false);
  mark(digits, always_, false);
  mark(numerals, numerals_, false);
  mark(numerals, after_numeral_, false);
  mark(blanks, after_numeral_, false);
  mark(u"、.．:：-—·‧・章回节節话話卷部集册冊篇】]）)", after_numeral_, false);
  for (std::u16string_view word : section_pairs) {
    mark(word.substr(0, 1), section_starts_, false);
    std::string utf8;
    for (char16_t c : word) utf8 += utf8_of(c);
    if (auto bytes = encode(utf8, enc)) sections_.push_back(std::move(*bytes));
  }
  mark(numerals, lasts_, true);
  mark(digits, lasts_, true);
  mark(u"序", lasts_, true);
  if (const auto di = encode("第", enc); di && di->size() >= 2 && enc.unit_size() == 1)
    probe_ = {static_cast<unsigned char>((*di)[0]), static_cast<unsigned char>((*di)[1])};
  if (const auto di = encode("第", enc)) di_ = *di;
  for (char16_t c : blanks) {
    auto bytes = encode(utf8_of(c), enc);
    if (!bytes || bytes->empty()) continue;
    blank_starts_.set(static_cast<unsigned char>(bytes->front()));
    blank_ends_.set(static_cast<unsigned char>(bytes->back()));
    if (c == u' ' || c == u'\u3000') separators_.push_back(*bytes);
    blanks_.push_back(std::move(*bytes));
  }
}

std::size_t shape_filter::first_length(std::string_view s) const {
  const auto byte = static_cast<unsigned char>(s[0]);
  switch (enc_.layout) {
    case char_layout::utf16le:
    case char_layout::utf16be: return 2;
    case char_layout::utf8: return byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
    case char_layout::single_byte: return 1;
    case char_layout::gb18030:
      if (byte >= 0x80 && s.size() > 1 && s[1] >= '0' && s[1] <= '9') return 4;
      break;
    case char_layout::big5: break;
  }
  return byte < 0x80 ? 1 : 2;
}

std::string_view shape_filter::trim(std::string_view s) const {
  auto blank_at = [&](std::size_t at) -> std::size_t {
    for (const std::string& blank : blanks_)
      if (holds_at(s, at, blank)) return blank.size();
    return 0;
  };
  while (!s.empty() && blank_starts_[static_cast<unsigned char>(s.front())]) {
    const std::size_t size = blank_at(0);
    if (size == 0) break;
    s.remove_prefix(size);
  }
  while (!s.empty() && blank_ends_[static_cast<unsigned char>(s.back())]) {
    std::size_t size = 0;
    for (const std::string& blank : blanks_)
      if (s.size() >= blank.size() && holds_at(s, s.size() - blank.size(), blank)) size = blank.size();
    if (size == 0) break;
    s.remove_suffix(size);
  }
  return s;
}

bool shape_filter::may_be_shaped(std::string_view line, bool holds_probe) const {
  const std::string_view s = trim(line);
  if (s.size() < 2) return !s.empty();
  const unsigned first = first_key(s);
  if (always_.test(first)) return true;
  if (numerals_.test(first)) {
    const std::size_t next = first_length(s);
    if (next + 1 >= s.size() || after_numeral_.test(first_key(s.substr(next)))) return true;
  }
  if (section_starts_.test(first)) {
    for (const std::string& word : sections_)
      if (holds_at(s, 0, word)) return true;
    const std::size_t next = first_length(s);
    for (const std::string& blank : blanks_)  // 尾 声
      if (holds_at(s, next, blank)) return true;
  }
  if (lasts_.test(last_key(s))) return true;
  if (holds_probe && s.find(di_) != std::string_view::npos)
    return true;  // the probe is only 第's first bytes
  // A space or U+3000 after a short prefix, before a section word (正文
  // 前言); two bytes across a character boundary are no blank.
  // Within 16 characters (heading_form's longest_section_prefix), at most
  // four bytes each.
  const std::string_view near = s.substr(0, 64);
  // Each separator by its first byte (memchr), then the rest of it.
  for (const std::string& blank : separators_) {
    std::size_t walked = 0;
    for (std::size_t at = near.find(blank[0]); at != std::string_view::npos; at = near.find(blank[0], at + 1))
      if (holds_at(near, at, blank) && starts_character(near, at, walked)) return true;
  }
  return false;
}

bool shape_filter::starts_character(std::string_view s, std::size_t at, std::size_t& walked) const {
  switch (enc_.layout) {
    case char_layout::utf16le:
    case char_layout::utf16be: return at % 2 == 0;
    case char_layout::gb18030:
    case char_layout::big5: break;
    default: return true;  // a blank's bytes never stand inside a UTF-8 character
  }
  while (walked < at) walked += first_length(s.substr(walked));
  return walked == at;
}

std::size_t shape_filter::characters(std::string_view line, std::size_t most) const {
  if (line.size() > most * 4) return most + 1;  // no character takes more than four bytes
  std::size_t count = 0;
  for (std::size_t at = 0; at < line.size(); ++count) at += first_length(line.substr(at));
  return count;
}

}  // namespace quorrel

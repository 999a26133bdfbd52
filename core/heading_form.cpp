#include "core/heading_form.h"

#include <algorithm>
#include <array>

#include <unicode/ustring.h>  // u_strFromUTF8WithSub

namespace quorrel {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\u3000' || c == u'\u00A0'; }

bool is_separator(char16_t c) {
  return is_blank(c) || std::u16string_view(u"：:、.．-—·‧・").find(c) != std::u16string_view::npos;
}

// Punctuation that goes on a sentence: after 第三章 it means the line is
// prose about a chapter, not one.
bool continues_sentence(char16_t c) {
  return std::u16string_view(u"，,。！!？?；;…“”\"'‘’」』）)的了").find(c) != std::u16string_view::npos;
}

bool is_digit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９'); }

// 0-9 for a Chinese digit, 10, 100, 1000, 10^4 or 10^8 for a unit, -1 if
// neither.
std::int64_t chinese_value(char16_t c) {
  struct numeral {
    char16_t c;
    std::int64_t value;
  };
  static constexpr std::array<numeral, 36> numerals = {{
      {u'〇', 0}, {u'零', 0}, {u'一', 1}, {u'壹', 1}, {u'二', 2}, {u'两', 2}, {u'兩', 2}, {u'贰', 2},
      {u'貳', 2}, {u'貮', 2}, {u'三', 3}, {u'叁', 3}, {u'參', 3}, {u'叄', 3}, {u'四', 4}, {u'肆', 4}, {u'五', 5}, {u'伍', 5},
      {u'六', 6}, {u'陆', 6}, {u'陸', 6}, {u'七', 7}, {u'柒', 7}, {u'八', 8}, {u'捌', 8}, {u'九', 9},
      {u'玖', 9}, {u'十', 10}, {u'拾', 10}, {u'百', 100}, {u'佰', 100}, {u'千', 1000}, {u'仟', 1000},
      {u'万', 10000}, {u'萬', 10000}, {u'亿', 100000000},
  }};
  if (c == u'億') return 100000000;
  for (const numeral& n : numerals)
    if (n.c == c) return n.value;
  return -1;
}

// How many code units from `at` form a numeral of one kind (digits, or
// Chinese numerals).
std::size_t numeral_length(std::u16string_view s, std::size_t at) {
  std::size_t end = at;
  if (end < s.size() && is_digit(s[end])) {
    while (end < s.size() && is_digit(s[end])) ++end;
  } else {
    while (end < s.size() && chinese_value(s[end]) >= 0) ++end;
  }
  return end - at;
}

std::size_t skip_blanks(std::u16string_view s, std::size_t at) {
  while (at < s.size() && is_blank(s[at])) ++at;
  return at;
}

// A number, blanks allowed around it: its value, and where reading stopped.
bool read_number(std::u16string_view s, std::size_t& at, std::int64_t& value) {
  const std::size_t from = skip_blanks(s, at);
  const std::size_t length = numeral_length(s, from);
  if (length == 0) return false;
  value = numeral_value(s.substr(from, length));
  at = skip_blanks(s, from + length);
  return true;
}

bool starts_word(std::u16string_view s, std::size_t at, std::u16string_view word) {
  return s.substr(at, word.size()) == word;
}

// The unit at `at` begins a longer word (节课, 部分): prose, not a heading.
bool unit_begins_word(std::u16string_view s, std::size_t at) {
  static constexpr std::u16string_view words[] = {u"节课", u"節課", u"回合", u"回閤", u"回事", u"部分",
                                                  u"集合", u"章节", u"章節", u"篇张", u"篇張"};
  return std::any_of(std::begin(words), std::end(words), [&](std::u16string_view w) { return starts_word(s, at, w); });
}

// What may follow a heading's head at `at`: nothing, a separator, or (when
// `title_needs_separator` is false) a title that does not read as the rest
// of a sentence.
bool good_tail(std::u16string_view s, std::size_t at, bool title_needs_separator) {
  if (at >= s.size() || is_separator(s[at])) return true;
  return !title_needs_separator && !continues_sentence(s[at]);
}

struct head {
  line_kind kind = line_kind::body;
  bool guarded = false;  // a heading but for the longer-word guard
  bool numbered = false;
  std::int64_t number = 0;
};

head read_head(std::u16string_view s) {
  head h;
  std::size_t at = 0;
  if (starts_word(s, 0, u"第")) {
    at = 1;
    if (!read_number(s, at, h.number) || at >= s.size()) return {};
    const char16_t unit = s[at];
    if (std::u16string_view(u"章回节節话話").find(unit) != std::u16string_view::npos)
      h.kind = line_kind::chapter;
    else if (std::u16string_view(u"卷部集册冊篇").find(unit) != std::u16string_view::npos)
      h.kind = line_kind::volume;
    else
      return {};
    h.numbered = true;
    h.guarded = unit_begins_word(s, at);
    if (!h.guarded && !good_tail(s, at + 1, false)) return {};
    return h;
  }
  if (starts_word(s, 0, u"卷")) {
    at = starts_word(s, 1, u"之") ? 2 : 1;
    if (!read_number(s, at, h.number) || !good_tail(s, at, false)) return {};
    h.kind = line_kind::volume;
    h.numbered = true;
    return h;
  }
  // Longer names first: 序章 and 序言 before 序.
  static constexpr std::u16string_view specials[] = {u"完本感言", u"序章", u"序言", u"楔子", u"引子",
                                                     u"前言",     u"引言", u"尾声", u"尾聲", u"后记",
                                                     u"後記",     u"终章", u"終章", u"番外", u"外传",
                                                     u"外傳",     u"序"};
  for (std::u16string_view name : specials) {
    if (!starts_word(s, 0, name)) continue;
    at = name.size();
    if (name == u"番外" && read_number(s, at, h.number)) {
      h.numbered = true;
      if (!good_tail(s, at, false)) return {};
    } else if (!good_tail(s, at, true)) {
      return {};
    }
    h.kind = line_kind::special;
    return h;
  }
  return {};
}

}  // namespace

std::int64_t numeral_value(std::u16string_view digits) {
  if (digits.empty()) return -1;
  std::int64_t value = 0;
  if (is_digit(digits[0])) {
    for (char16_t c : digits) {
      if (!is_digit(c) || value > 100000000000) return -1;
      value = value * 10 + (c >= u'０' ? c - u'０' : c - u'0');
    }
    return value;
  }
  const bool positional = std::all_of(digits.begin(), digits.end(), [](char16_t c) {
    const std::int64_t v = chinese_value(c);
    return v >= 0 && v <= 9;
  });
  if (positional) {  // 一二三, 一〇五
    for (char16_t c : digits) value = value * 10 + chinese_value(c);
    return value;
  }
  // 一百零五, 十二, 三万二千: digits times units, grouped by 万 and 亿.
  std::int64_t section = 0, digit = -1;
  for (char16_t c : digits) {
    const std::int64_t v = chinese_value(c);
    if (v < 0) return -1;
    if (v <= 9) {
      digit = v;
    } else if (v < 10000) {
      section += (digit < 0 ? 1 : digit) * v;
      digit = -1;
    } else {
      value = (value + section + std::max<std::int64_t>(digit, 0)) * v;
      section = 0;
      digit = -1;
    }
  }
  return value + section + std::max<std::int64_t>(digit, 0);
}

heading_form read_heading(std::u16string_view line) {
  std::size_t from = skip_blanks(line, 0), to = line.size();
  while (to > from && is_blank(line[to - 1])) --to;
  const std::u16string_view s = line.substr(from, to - from);
  if (s.empty()) return {};

  head h;
  if (s[0] == u'【' || s[0] == u'[') {
    const std::size_t close = s.find(s[0] == u'【' ? u'】' : u']');
    if (close == std::u16string_view::npos) return {};
    const std::u16string_view inner = s.substr(1, close - 1);
    const std::size_t start = skip_blanks(inner, 0);
    std::size_t end = inner.size();
    while (end > start && is_blank(inner[end - 1])) --end;
    h = read_head(inner.substr(start, end - start));
    if (!good_tail(s, close + 1, false)) return {};
  } else {
    h = read_head(s);
  }
  if (h.kind == line_kind::body) return {};

  std::size_t characters = 0;
  for (char16_t c : s) characters += (c < 0xDC00 || c > 0xDFFF) ? 1 : 0;  // not a surrogate's second half
  const bool guarded = h.guarded || characters > 40 || s.find(u'。') != std::u16string_view::npos;
  return {guarded ? line_kind::near_miss : h.kind, h.kind, h.numbered, h.number};
}

heading_form read_heading_utf8(std::string_view line) {
  std::u16string text(line.size() + 1, u'\0');  // never more code units than bytes
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &length,
                       line.data(), static_cast<int32_t>(line.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) return {};
  return read_heading(std::u16string_view(text).substr(0, static_cast<std::size_t>(length)));
}

}  // namespace quorrel

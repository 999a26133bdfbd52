#include "core/heading_form.h"

#include <algorithm>
#include <array>

#include <unicode/ustring.h>  // u_strFromUTF8WithSub

namespace quorrel {
namespace {

using text = std::u16string_view;
constexpr std::size_t npos = text::npos;

bool in(text set, char16_t c) { return set.find(c) != npos; }

bool is_blank(char16_t c) { return in(u" \t\u3000\u00A0\uFEFF", c); }
bool is_ornament(char16_t c) { return in(u"◆◇■□●★☆※", c); }

bool is_separator(char16_t c) { return is_blank(c) || in(u"：:、.．-—·‧・", c); }

// Punctuation that goes on a sentence: after 第三章 it means the line is
// prose about a chapter, not one.
bool continues_sentence(char16_t c) { return in(u"，,。！!？?；;…“”\"'‘’」』）)的了", c); }

bool is_digit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９'); }
bool is_han(char16_t c) { return c >= 0x3400 && c <= 0x9FFF; }
bool is_latin(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

constexpr text chapter_units = u"章回节節话話";
// Code units before a section word read behind a prefix (正文 前言); the
// survey's byte filter looks for the blank in as many characters.
constexpr std::size_t longest_section_prefix = 16;
constexpr text volume_units = u"卷部集册冊篇";

// 0-9 for a Chinese digit, 10, 100, 1000, 10^4 or 10^8 for a unit, 20 and
// 30 for 廿 and 卅, -1 if none of these.
std::int64_t chinese_value(char16_t c) {
  struct numeral {
    char16_t c;
    std::int64_t value;
  };
  static constexpr std::array<numeral, 40> numerals = {{
      {u'〇', 0},         {u'零', 0},    {u'一', 1},    {u'壹', 1},     {u'二', 2},     {u'两', 2},
      {u'兩', 2},         {u'贰', 2},    {u'貳', 2},    {u'貮', 2},     {u'三', 3},     {u'叁', 3},
      {u'參', 3},         {u'叄', 3},    {u'四', 4},    {u'肆', 4},     {u'五', 5},     {u'伍', 5},
      {u'六', 6},         {u'陆', 6},    {u'陸', 6},    {u'七', 7},     {u'柒', 7},     {u'八', 8},
      {u'捌', 8},         {u'九', 9},    {u'玖', 9},    {u'十', 10},    {u'拾', 10},    {u'百', 100},
      {u'佰', 100},       {u'千', 1000}, {u'仟', 1000}, {u'万', 10000}, {u'萬', 10000}, {u'亿', 100000000},
      {u'億', 100000000}, {u'廿', 20},   {u'卅', 30},   {u'○', 0},
  }};
  for (const numeral& n : numerals)
    if (n.c == c) return n.value;
  return -1;
}

// How many code units from `at` form a numeral of one kind (digits, or
// Chinese numerals).
std::size_t numeral_length(text s, std::size_t at) {
  std::size_t end = at;
  if (end < s.size() && is_digit(s[end])) {
    while (end < s.size() && is_digit(s[end])) ++end;
  } else {
    while (end < s.size() && chinese_value(s[end]) >= 0) ++end;
  }
  return end - at;
}

std::size_t skip_blanks(text s, std::size_t at) {
  while (at < s.size() && is_blank(s[at])) ++at;
  return at;
}

// A number, blanks allowed around it: its value, and where reading stopped.
bool read_number(text s, std::size_t& at, std::int64_t& value) {
  const std::size_t from = skip_blanks(s, at);
  const std::size_t length = numeral_length(s, from);
  if (length == 0) return false;
  value = numeral_value(s.substr(from, length));
  if (value < 0) return false;
  at = skip_blanks(s, from + length);
  return true;
}

bool starts_word(text s, std::size_t at, text word) { return s.substr(at, word.size()) == word; }

// The unit at `at` begins a longer word (节课, 部分): prose, not a heading.
bool unit_begins_word(text s, std::size_t at) {
  static constexpr text words[] = {u"节课", u"節課", u"回合", u"回閤", u"回事", u"部分",
                                   u"集合", u"章节", u"章節", u"篇张", u"篇張"};
  return std::any_of(std::begin(words), std::end(words), [&](text w) { return starts_word(s, at, w); });
}

// 第三卷终, 第十章完: the end of a part, written right after its unit.
bool end_marker(text s, std::size_t at) {
  if (at >= s.size() || !in(u"终終完", s[at])) return false;
  const std::size_t rest = at + (starts_word(s, at + 1, u"结") || starts_word(s, at + 1, u"結") ? 2 : 1);
  return rest >= s.size() || in(u")）】]》!！。.", s[rest]);
}

// What may follow a heading's head at `at`: nothing, a separator, or (when
// `title_needs_separator` is false) a title that does not read as the rest
// of a sentence. A section's title may also open with 《 or a bracket.
bool good_tail(text s, std::size_t at, bool title_needs_separator) {
  if (at >= s.size() || is_separator(s[at])) return true;
  if (title_needs_separator) return in(u"《（(【“", s[at]);
  return !continues_sentence(s[at]);
}

// Units after 第 that count things other than parts of a book.
bool counts_something_else(char16_t c) {
  return in(
      u"次个個天日年月夜位名人条條种種件句层層步眼声聲场場把只隻道排行列号號等流手批代届屆轮輪局期课課页頁段题題类類项項份封本张張片波周週关關站座间間级級枪槍拳招式碗杯口顿頓下遍",
      c);
}

// Section words, longer names first where one begins another (序章 before
// 序). `numbered`: may carry a number (番外三, 附录一).
struct section_word {
  text word;
  bool numbered = false;
};
constexpr section_word section_words[] = {
    {u"完本感言"},   {u"上架感言"}, {u"作者的话"},   {u"作者的話"}, {u"出版说明"}, {u"出版說明"},
    {u"出版前言"},   {u"重印前记"}, {u"重印前記"},   {u"译者序"},   {u"譯者序"},   {u"译后记"},
    {u"譯後記"},     {u"结束语"},   {u"結束語"},     {u"序章"},     {u"序言"},     {u"序幕"},
    {u"原序"},       {u"代序"},     {u"新序"},       {u"自序"},     {u"楔子"},     {u"引子"},
    {u"前言"},       {u"引言"},     {u"尾声"},       {u"尾聲"},     {u"后记"},     {u"後記"},
    {u"终章"},       {u"終章"},     {u"番外", true}, {u"外传"},     {u"外傳"},     {u"附录", true},
    {u"附錄", true}, {u"释名"},     {u"釋名"},       {u"解说"},     {u"解說"},     {u"跋"},
    {u"序"}};

// One head read at the start of `s`: a unit and its number, or a section.
struct head {
  line_kind kind = line_kind::body;
  heading_guard guard = heading_guard::none;
  std::int64_t number = -1;
  char16_t unit = 0;    // 0 for a section
  std::size_t end = 0;  // where the head ends in `s`
  bool odd = false;     // a unit beyond the known ones
};

line_kind unit_kind(char16_t unit) {
  if (in(chapter_units, unit)) return line_kind::chapter;
  if (in(volume_units, unit)) return line_kind::volume;
  return line_kind::body;
}

// 第 + number + unit at `at`, or with `bare` the same without 第.
head read_unit_head(text s, std::size_t at, bool bare) {
  head h;
  std::size_t p = at;
  if (!bare) {
    if (!starts_word(s, p, u"第")) return {};
    ++p;
  }
  if (!read_number(s, p, h.number) || p >= s.size()) return {};
  const char16_t unit = s[p];
  h.kind = unit_kind(unit);
  if (h.kind == line_kind::body) {
    // 第一幕, 第二十炮: a unit of the book's own, if the book uses it so.
    if (bare || !is_han(unit) || counts_something_else(unit) || chinese_value(unit) >= 0) return {};
    h.kind = line_kind::chapter;
    h.odd = true;
  }
  h.unit = unit;
  h.end = p + 1;
  if (end_marker(s, h.end)) return {};
  if (unit_begins_word(s, p)) {
    h.guard = heading_guard::longer_word;
  } else if (!good_tail(s, h.end, false)) {
    return {};
  }
  return h;
}

// A section word at `at`, also one of two characters written with a blank
// between them (尾　声): where it ends, or 0.
std::size_t section_end(text s, std::size_t at, text word) {
  if (starts_word(s, at, word)) return at + word.size();
  if (word.size() != 2 || !starts_word(s, at, word.substr(0, 1))) return 0;
  const std::size_t second = skip_blanks(s, at + 1);
  return second == at + 2 && starts_word(s, second, word.substr(1)) ? second + 1 : 0;
}

head read_section(text s, std::size_t at) {
  for (const section_word& w : section_words) {
    const std::size_t end = section_end(s, at, w.word);
    if (end == 0) continue;
    head h;
    h.kind = line_kind::special;
    h.end = end;
    std::size_t p = h.end;
    if (w.numbered && read_number(s, p, h.number)) {
      h.end = p;
      if (!good_tail(s, p, false)) return {};
    } else if (!good_tail(s, h.end, true)) {
      return {};
    }
    return h;
  }
  return {};
}

// A head at the very start: 第 + number + unit, 卷 + number, or a section.
head read_head(text s) {
  if (head h = read_unit_head(s, 0, false); h.kind != line_kind::body) return h;
  if (starts_word(s, 0, u"卷")) {
    std::size_t at = starts_word(s, 1, u"之") ? 2 : 1;
    head h;
    if (!read_number(s, at, h.number) || !good_tail(s, at, false)) return {};
    h.kind = line_kind::volume;
    h.unit = u'卷';
    h.end = at;
    return h;
  }
  return read_section(s, 0);
}

std::uint32_t hash(text s) {
  std::uint32_t h = 2166136261u;
  for (char16_t c : s) h = (h ^ c) * 16777619u;
  return h | 1;  // never 0, which means no prefix
}

// Groups: the family in the top byte, what tells members apart below.
enum : std::uint32_t {
  unit_family = 1u << 24,
  numeral_family = 2u << 24,
  named_family = 3u << 24,
  latin_family = 4u << 24,
  section_family = 5u << 24
};

std::uint32_t unit_group(char16_t unit) {
  // Simplified and Traditional forms of one unit are one group.
  static constexpr text pairs[] = {u"節节", u"話话", u"冊册", u"輯辑", u"夢梦"};
  for (text p : pairs)
    if (unit == p[0]) unit = p[1];
  return unit_family | unit;
}

// The first later head of a known unit on the line, after `from`.
head later_head(text s, std::size_t from) {
  for (std::size_t at = s.find(u'第', from); at != npos && at < 40; at = s.find(u'第', at + 1)) {
    head h = read_unit_head(s, at, false);
    if (h.kind != line_kind::body && !h.odd && h.guard == heading_guard::none) return h;
  }
  return {};
}

// Characters, a surrogate pair counted once.
std::size_t characters(text s) {
  std::size_t n = 0;
  for (char16_t c : s) n += (c < 0xDC00 || c > 0xDFFF) ? 1 : 0;
  return n;
}

text trim(text s) {
  std::size_t from = 0, to = s.size();
  while (from < to && (is_blank(s[from]) || is_ornament(s[from]))) ++from;
  while (to > from && (is_blank(s[to - 1]) || is_ornament(s[to - 1]))) --to;
  return s.substr(from, to - from);
}

// A plain head, and what the rest of the line adds: a chapter after a
// volume (第十一册第八十三章), or a second head of the same unit (a contents
// line).
void read_rest(text s, const head& first, line_shape& shape) {
  shape.kind = first.kind;
  shape.number = first.number;
  shape.group = first.kind == line_kind::special ? section_family : unit_group(first.unit);
  if (first.unit == 0) return;
  const head next = later_head(s, first.end);
  if (next.kind == line_kind::body) return;
  if (unit_group(next.unit) == shape.group) {
    shape.contents = true;
  } else if (first.kind == line_kind::chapter && next.kind == line_kind::chapter) {
    shape.inner = next.number;
  } else if (first.kind == line_kind::volume && next.kind == line_kind::chapter) {
    shape.kind = line_kind::chapter;
    shape.volume = first.number;
    shape.number = next.number;
    shape.group = unit_group(next.unit);
  }
}

// A short name and a number at the end: 蛙九, 书名1, 三日静寂 2.
bool read_named(text s, line_shape& shape) {
  if (characters(s) > 12) return false;
  std::size_t end = s.size(), start = end;
  while (start > 0 && (is_digit(s[start - 1]) || chinese_value(s[start - 1]) >= 0)) --start;
  if (start == end ||
      (start > 0 && is_digit(s[start]) != is_digit(s[start - 1]) && chinese_value(s[start - 1]) >= 0))
    return false;
  std::size_t name_end = start;
  while (name_end > 0 && is_blank(s[name_end - 1])) --name_end;
  const text name = s.substr(0, name_end);
  if (name.empty() || name.size() > 8) return false;
  for (char16_t c : name)
    if (!is_han(c) && !is_latin(c) && !is_digit(c)) return false;
  if (in(u"第卷", name.back())) return false;
  const std::int64_t value = numeral_value(s.substr(start));
  if (value < 0) return false;
  shape = {heading_shape::named,
           line_kind::chapter,
           heading_guard::none,
           value,
           -1,
           named_family | (hash(name) & 0xFFFFFF)};
  return true;
}

// A number alone or before a title: 一 标题, 一、标题, 1.标题, 1标题, 01.
bool read_numeral(text s, line_shape& shape) {
  std::size_t at = 0;
  char16_t close = 0;
  if (in(u"【[（(", s[0])) {
    close = s[0] == u'【' ? u'】' : s[0] == u'[' ? u']' : s[0] == u'（' ? u'）' : u')';
    at = skip_blanks(s, 1);
  }
  const std::size_t length = numeral_length(s, at);
  if (length == 0 || length > 8) return false;
  const bool digits = is_digit(s[at]);
  const std::int64_t value = numeral_value(s.substr(at, length));
  if (value < 0) return false;
  std::size_t p = at + length;
  std::uint32_t separator = 0;
  if (close != 0) {
    p = skip_blanks(s, p);
    if (p >= s.size() || s[p] != close) return false;
    ++p;
    separator = close;
  }
  const std::size_t after = skip_blanks(s, p);
  if (after >= s.size()) {
    separator |= 0x10000;  // alone

  } else if (in(u"、.．:：", s[p])) {
    separator |= s[p] == u'．' ? u'.' : s[p] == u'：' ? u':' : s[p];
    if (!digits && s[p] == u'.') return false;
  } else if (after > p) {
    separator |= u' ';
  } else if (digits && is_han(s[p]) && close == 0) {
    separator |= 0x20000;  // glued to its title
  } else if (close == 0) {
    return false;
  }
  if (after < s.size() && continues_sentence(s[after])) return false;
  shape = {heading_shape::numeral,
           line_kind::chapter,
           heading_guard::none,
           value,
           -1,
           numeral_family | (digits ? 1u << 20 : 0) | (separator & 0xFFFFF) | (separator >> 16 << 18)};
  shape.titled = after < s.size();
  return true;
}

// part 6, Chapter 3, PART1 标题.
bool read_latin(text s, line_shape& shape) {
  for (text word : {text(u"part"), text(u"chapter")}) {
    if (s.size() <= word.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < word.size() && same; ++i) same = (s[i] | 0x20) == word[i];
    if (!same) continue;
    std::size_t at = skip_blanks(s, word.size());
    const std::size_t length = numeral_length(s, at);
    if (length == 0 || !is_digit(s[at])) return false;
    const std::int64_t value = numeral_value(s.substr(at, length));
    if (value < 0 || !good_tail(s, at + length, false)) return false;
    shape = {heading_shape::latin,
             line_kind::chapter,
             heading_guard::none,
             value,
             -1,
             latin_family | static_cast<std::uint32_t>(word.size())};
    return true;
  }
  return false;
}

// 尾 声, 楔 子: a short section word written with a blank between its
// characters.
bool spaced_section(text s, line_shape& shape) {
  if (s.size() > 9) return false;
  std::array<char16_t, 9> joined{};
  std::size_t n = 0;
  for (char16_t c : s)
    if (!is_blank(c)) joined[n++] = c;
  if (n == s.size() || n > 4) return false;
  const text word(joined.data(), n);
  const head h = read_section(word, 0);
  if (h.kind == line_kind::body || h.end != n) return false;
  shape = {heading_shape::section, line_kind::special, heading_guard::none, -1, -1, section_family};
  return true;
}

// A line that ends in 序 after a book's name or a quotation: “金庸作品集”新序,
// 三联版序, 胡序.
bool named_preface(text s, line_shape& shape) {
  const std::size_t n = characters(s);
  if (n < 2 || n > 16 || s.back() != u'序') return false;
  const char16_t before = s[s.size() - 2];
  if (n > 2 && !in(u"”」》\"新原代自总總版者", before)) return false;
  if (in(u"秩程顺順次工有无無时時词詞排乱亂失", before)) return false;  // 秩序, 程序: words, not prefaces
  if (!is_han(before) && !in(u"”」》\"", before)) return false;
  for (char16_t c : s)
    if (continues_sentence(c) && !in(u"“”\"", c)) return false;
  shape = {heading_shape::section, line_kind::special, heading_guard::none, -1, -1, section_family};
  return true;
}

line_shape read_shape(text s) {
  line_shape shape;
  if (s.empty()) return shape;
  // A heading in one pair of 【】 or [ ]: read inside, judge the tail outside.
  if (s[0] == u'【' || s[0] == u'[') {
    const std::size_t close = s.find(s[0] == u'【' ? u'】' : u']');
    if (close != npos) {
      const text inner = trim(s.substr(1, close - 1));
      const head h = read_head(inner);
      if (h.kind != line_kind::body && good_tail(s, close + 1, false)) {
        shape.shape = h.odd                          ? heading_shape::odd_unit
                      : h.kind == line_kind::special ? heading_shape::section
                                                     : heading_shape::plain;
        shape.titled = skip_blanks(inner, h.end) < inner.size() || close + 1 < s.size();
        shape.guard = h.guard;
        read_rest(inner, h, shape);
        return shape;
      }
    }
  }
  if (head h = read_head(s); h.kind != line_kind::body) {
    // 第一部分 标题第1节 标题: a part, then the section that counts.
    if (h.guard == heading_guard::longer_word && h.unit != 0) {
      const head next = later_head(s, h.end);
      if (next.kind == line_kind::chapter) {
        shape = {heading_shape::prefixed,
                 next.kind,
                 heading_guard::none,
                 next.number,
                 -1,
                 unit_group(next.unit),
                 hash(s.substr(0, h.end + 1))};
        shape.titled = true;
        return shape;
      }
    }
    if (h.odd) {
      // 第一季 第一卷, 第一梦 红蝗 第01章: a known unit later on the line counts.
      // The prefix is the outer unit, whatever its number and title.
      const head next = later_head(s, h.end);
      if (next.kind != line_kind::body) {
        shape = {
            heading_shape::prefixed, next.kind, heading_guard::none, next.number, -1, unit_group(next.unit),
            hash(text(&h.unit, 1))};
        shape.titled = true;
        return shape;
      }
      // 第二季 引子
      if (const head section = read_section(s, skip_blanks(s, h.end));
          section.kind != line_kind::body && skip_blanks(s, h.end) > h.end) {
        shape = {
            heading_shape::prefixed_section, line_kind::special, heading_guard::none, -1, -1, section_family,
            hash(text(&h.unit, 1))};
        return shape;
      }
      shape.shape = heading_shape::odd_unit;
      shape.kind = h.kind;
      shape.number = h.number;
      shape.group = unit_group(h.unit);
      shape.titled = skip_blanks(s, h.end) < s.size();
      return shape;
    }
    shape.shape = h.kind == line_kind::special ? heading_shape::section : heading_shape::plain;
    shape.guard = h.guard;
    shape.titled = skip_blanks(s, h.end) < s.size();
    read_rest(s, h, shape);
    return shape;
  }
  if (spaced_section(s, shape) || named_preface(s, shape)) return shape;
  // A prefix, then a head: 上卷 第一回, 正文第一集, 《书名》第一章(1).
  for (std::size_t at = 1; at < s.size() && at <= 24; ++at) {
    if (continues_sentence(s[at - 1]) && !in(u"“”\"", s[at - 1])) break;
    if (s[at] == u'第') {
      // An unknown unit behind a prefix (【书名】【第一辑 标题】) is read below.
      const head h = read_unit_head(s, at, false);
      if (h.kind == line_kind::body || h.guard != heading_guard::none || h.odd) continue;
      shape.shape = heading_shape::prefixed;
      read_rest(s, h, shape);  // h.end counts from the line's start
      shape.prefix = hash(s.substr(0, at));
      shape.titled = skip_blanks(s, h.end) < s.size();
      return shape;
    }
    // A section word after a short prefix that ends in a space or U+3000,
    // or in the bracket that opens the line: 正文 前言, ◆ 《书名》 楔子　标题 ◆.
    if (at <= longest_section_prefix &&
        (in(u" \u3000", s[at - 1]) || (in(u"》】", s[at - 1]) && in(u"《【", s[0])))) {
      const head h = read_section(s, at);
      if (h.kind != line_kind::body) {
        shape = {heading_shape::prefixed_section,
                 line_kind::special,
                 heading_guard::none,
                 h.number,
                 -1,
                 section_family,
                 hash(s.substr(0, at))};
        return shape;
      }
    }
  }
  // 【书名】【第一辑 标题】: a head in the second of two bracketed parts.
  if (s[0] == u'【') {
    const std::size_t second = s.find(u"】【");
    if (second != npos && second < 24) {
      line_shape inner = read_shape(s.substr(second + 1));
      if (inner.shape == heading_shape::plain || inner.shape == heading_shape::odd_unit) {
        inner.shape = heading_shape::prefixed;
        inner.prefix = hash(s.substr(0, second + 2));  // as the search for 第 above names it
        return inner;
      }
    }
  }
  // 第 left out: 二回　标题.
  if (head h = read_unit_head(s, 0, true); h.kind != line_kind::body && h.guard == heading_guard::none) {
    shape.shape = heading_shape::bare_unit;
    read_rest(s, h, shape);
    return shape;
  }
  if (read_latin(s, shape) || read_numeral(s, shape) || read_named(s, shape)) return shape;
  return {};
}

}  // namespace

std::int64_t numeral_value(std::u16string_view digits) {
  if (digits.empty()) return -1;
  // Every part is kept at most the ceiling, so no sum or product of them
  // can overflow: 3 * ceiling * 10^8 is far below 2^63.
  auto capped = [](std::int64_t v) { return std::min(v, numeral_ceiling); };
  std::int64_t value = 0;
  if (is_digit(digits[0])) {
    for (char16_t c : digits) {
      if (!is_digit(c)) return -1;
      value = capped(value * 10 + (c >= u'０' ? c - u'０' : c - u'0'));
    }
    return value;
  }
  const bool positional = std::all_of(digits.begin(), digits.end(), [](char16_t c) {
    const std::int64_t v = chinese_value(c);
    return v >= 0 && v <= 9;
  });
  if (positional) {  // 一二三, 一〇五
    for (char16_t c : digits) value = capped(value * 10 + chinese_value(c));
    return value;
  }
  // 一百零五, 十二, 廿三, 三千五百万, 一亿二千万: digits times 十, 百 and 千
  // make a section below 10^4; 万 multiplies what came since the last 亿,
  // 亿 everything before it. A unit with nothing before it counts one (十,
  // 万, 亿).
  std::int64_t above = 0;    // whole 亿 groups
  std::int64_t myriads = 0;  // 万 groups since the last 亿
  std::int64_t section = 0, digit = -1;
  for (char16_t c : digits) {
    const std::int64_t v = chinese_value(c);
    if (v < 0) return -1;
    if (v <= 9) {
      digit = v;
    } else if (v == 20 || v == 30) {
      section = capped(section + v);
      digit = -1;
    } else if (v < 10000) {
      section = capped(section + (digit < 0 ? 1 : digit) * v);
      digit = -1;
    } else {
      std::int64_t part = section + std::max<std::int64_t>(digit, 0);
      if (v == 10000) {
        if (part == 0 && digit < 0 && myriads == 0) part = 1;
        myriads = capped((myriads + part) * v);
      } else {
        if (part == 0 && digit < 0 && myriads == 0 && above == 0) part = 1;
        above = capped((above + myriads + part) * v);
        myriads = 0;
      }
      section = 0;
      digit = -1;
    }
  }
  return capped(above + myriads + section + std::max<std::int64_t>(digit, 0));
}

line_shape read_line_shape(std::u16string_view line) {
  const text s = trim(line);
  if (s.empty() || characters(s) > 60) return {};
  line_shape shape = read_shape(s);
  if (shape.shape == heading_shape::none || shape.guard != heading_guard::none) return shape;
  const std::size_t stop = s.find(u'。');
  if (characters(s) > 40) shape.guard = heading_guard::too_long;
  else if (stop == s.size() - 1) shape.guard = heading_guard::trailing_stop;
  else if (stop != npos) shape.guard = heading_guard::full_stop;
  return shape;
}

heading_form read_heading(std::u16string_view line) {
  const line_shape shape = read_line_shape(line);
  if (shape.shape != heading_shape::plain && shape.shape != heading_shape::section) return {};
  // A long line that reads as plain was still refused for its length.
  if (characters(trim(line)) > 60) return {};
  const line_kind kind = shape.contents ? line_kind::body : shape.kind;
  const bool guarded = shape.guard != heading_guard::none;
  const bool numbered = shape.number >= 0;
  if (kind == line_kind::body) return {};
  return {guarded ? line_kind::near_miss : kind, kind, numbered, numbered ? shape.number : 0};
}

namespace {

template <typename F>
auto with_utf16(std::string_view line, F read) {
  std::u16string decoded(line.size() + 1, u'\0');  // never more code units than bytes
  int32_t length = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(decoded.data()), static_cast<int32_t>(decoded.size()),
                       &length, line.data(), static_cast<int32_t>(line.size()), 0xFFFD, nullptr, &status);
  if (U_FAILURE(status)) length = 0;
  return read(text(decoded).substr(0, static_cast<std::size_t>(length)));
}

}  // namespace

heading_form read_heading_utf8(std::string_view line) {
  return with_utf16(line, [](text s) { return read_heading(s); });
}

line_shape read_line_shape_utf8(std::string_view line) {
  return with_utf16(line, [](text s) { return read_line_shape(s); });
}

}  // namespace quorrel

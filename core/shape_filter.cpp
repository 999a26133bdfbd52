#include "core/shape_filter.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

shape_filter::shape_filter(const encoding& enc) : enc_(enc), rules_(enc) {
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
  std::string wide_space;
  for (char16_t c : blanks) {
    auto bytes = encode(utf8_of(c), enc);
    if (!bytes || bytes->empty()) continue;
    blank_starts_.set(static_cast<unsigned char>(bytes->front()));
    blank_ends_.set(static_cast<unsigned char>(bytes->back()));
    if (c == u' ' || c == u'\u3000') separators_.push_back(*bytes);
    if (c == u'\u3000') wide_space = *bytes;
    if (c == u'\u00A0') nbsp_ = *bytes;
    blanks_.push_back(std::move(*bytes));
  }
  wide_space_ = wide_space;
  firsts_ = always_ | numerals_ | section_starts_;
}

#if defined(__SSE2__)
// The index's words of `words` * 64 bytes at `data`, for marks of at most
// `longest` bytes (the third byte is compared only where a mark has one).
template <std::size_t longest>
void index_words(const char* data, std::size_t words, const line_index::mark& di_mark,
                 const line_index::mark& wide_mark, std::uint64_t* ends_out, std::uint64_t* di_out,
                 std::uint64_t* separators_out) {
  // The bytes of a mark as vectors; a byte it does not have matches all.
  struct vectors {
    __m128i bytes[3], any[3], some;  // some: zeros when there is no mark
    explicit vectors(const line_index::mark& m) : some(m.size > 0 ? _mm_set1_epi8(-1) : _mm_setzero_si128()) {
      for (std::size_t i = 0; i < 3; ++i) {
        bytes[i] = _mm_set1_epi8(m.bytes[i]);
        any[i] = i < m.size ? _mm_setzero_si128() : _mm_set1_epi8(-1);
      }
    }
  };
  const vectors di(di_mark), wide(wide_mark);
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), space = _mm_set1_epi8(' ');
  for (std::size_t w = 0; w < words; ++w) {
    std::uint64_t ends = 0, dis = 0, seps = 0;
    for (unsigned k = 0; k < 4; ++k) {
      const char* const at = data + w * 64 + k * 16;
      __m128i b[longest];
      for (std::size_t i = 0; i < longest; ++i)
        b[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i));
      const auto matches = [&](const vectors& v) {
        __m128i all = _mm_and_si128(v.some, _mm_cmpeq_epi8(b[0], v.bytes[0]));
        for (std::size_t i = 1; i < longest; ++i)
          all = _mm_and_si128(all, _mm_or_si128(_mm_cmpeq_epi8(b[i], v.bytes[i]), v.any[i]));
        return all;
      };
      const auto bits = [&](__m128i m) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << (16 * k);
      };
      ends |= bits(_mm_or_si128(_mm_cmpeq_epi8(b[0], cr), _mm_cmpeq_epi8(b[0], lf)));
      dis |= bits(matches(di));
      seps |= bits(_mm_or_si128(_mm_cmpeq_epi8(b[0], space), matches(wide)));
    }
    ends_out[w] = ends;
    di_out[w] = dis;
    separators_out[w] = seps;
  }
}
#endif

line_index::mark::mark(const std::string& character) : size(character.size() <= 3 ? character.size() : 0) {
  for (std::size_t i = 0; i < size; ++i) bytes[i] = character[i];
}

line_index::line_index(const std::string& di, const std::string& wide_space)
    : any_di_(di.empty() || di.size() > 3), di_mark_(di), wide_(wide_space) {}

void line_index::build(std::string_view block) {
  block_ = block;
  const std::size_t words = block.size() / 64 + 1;
  words_ = words;
  if (ends_.size() < words) {
    ends_.resize(words);
    di_.resize(words);
    separators_.resize(words);
  }
  const char* const data = block.data();
#if defined(__SSE2__)
  if (di_mark_.size == 3 || wide_.size == 3) {
    index_words<3>(data, words, di_mark_, wide_, ends_.data(), di_.data(), separators_.data());
  } else {
    index_words<2>(data, words, di_mark_, wide_, ends_.data(), di_.data(), separators_.data());
  }
#else
  const auto matches = [](const char* at, const mark& m) {
    if (m.size == 0) return false;
    for (std::size_t i = 0; i < m.size; ++i)
      if (at[i] != m.bytes[i]) return false;
    return true;
  };
  for (std::size_t w = 0; w < words; ++w) {
    std::uint64_t ends = 0, dis = 0, seps = 0;
    for (std::size_t i = 0; i < 64; ++i) {
      const char* const at = data + w * 64 + i;
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (at[0] == '\r' || at[0] == '\n') ends |= bit;
      if (matches(at, di_mark_)) dis |= bit;
      if (at[0] == ' ' || matches(at, wide_)) seps |= bit;
    }
    ends_[w] = ends;
    di_[w] = dis;
    separators_[w] = seps;
  }
#endif
}

std::optional<line_index> shape_filter::index() const {
  if (enc_.unit_size() != 1) return std::nullopt;
  return line_index(di_, wide_space_);
}

line_scan shape_filter::scan(std::string_view text) const {
  line_end end = rules_.find_end(text, probe_);
  if (enc_.unit_size() != 1) return {end};
  const std::string_view line = text.substr(0, end.length);
  end.holds_probe = di_.empty() || line.find(di_) != std::string_view::npos;
  const std::size_t indent = rules_.blank_length(line);
  std::uint64_t ahead = 0;
  for (const std::string& blank : separators_)
    for (std::size_t k = 0; k < 64 && indent + k < line.size(); ++k)
      if (holds_at(line, indent + k, blank)) ahead |= std::uint64_t{1} << k;
  return {end, indent, ahead};
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

bool shape_filter::surely_body(std::string_view line, const line_scan& scan) const {
  const std::size_t lead = scan.indent;  // as trim() takes them; the rest is left to it
  if (lead == line_scan::unknown || scan.end.holds_probe || line.size() - lead < 2) return false;
  const std::string_view s = line.substr(lead);
  if (firsts_[first_key(s)] || lasts_[last_key(s)]) return false;
  if (blank_starts_[static_cast<unsigned char>(s.front())] && !nbsp_.empty() && holds_at(s, 0, nbsp_))
    return false;
  // A blank at the end (U+00A0 or a tab: the separators are below).
  if (blank_ends_[static_cast<unsigned char>(s.back())]) {
    for (const std::string& blank : blanks_)
      if (s.size() >= blank.size() && holds_at(s, s.size() - blank.size(), blank)) return false;
  }
  return !separator_starts_character(s, scan.separators);
}

bool shape_filter::separator_starts_character(std::string_view s, std::uint64_t separators) const {
  std::size_t walked = 0;
  for (std::uint64_t bits = separators; bits != 0; bits &= bits - 1)
    if (starts_character(s, static_cast<std::size_t>(__builtin_ctzll(bits)), walked)) return true;
  return false;
}

bool shape_filter::may_be_shaped(std::string_view line, const line_scan& scan) const {
  return !surely_body(line, scan) && looks_shaped(line, scan);
}

bool shape_filter::looks_shaped(std::string_view line, const line_scan& scan) const {
  const bool holds_probe = scan.end.holds_probe;
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
  if (scan.indent != line_scan::unknown && static_cast<std::size_t>(s.data() - line.data()) == scan.indent)
    return separator_starts_character(s, scan.separators);
  const std::string_view near = s.substr(0, 64);
  // Each separator by its first byte (memchr), then the rest of it.
  for (const std::string& blank : separators_) {
    std::size_t walked = 0;
    for (std::size_t at = near.find(blank[0]); at != std::string_view::npos; at = near.find(blank[0], at + 1))
      if (holds_at(near, at, blank) && starts_character(near, at, walked)) return true;
  }
  return false;
}

std::size_t shape_filter::characters(std::string_view line, std::size_t most) const {
  if (line.size() > most * 4) return most + 1;  // no character takes more than four bytes
  std::size_t count = 0;
  for (std::size_t at = 0; at < line.size(); ++count) at += first_length(line.substr(at));
  return count;
}

}  // namespace quorrel

#pragma once
// Which lines the form rule's survey of a book decodes and reads
// (core/heading_form.h): told from a line's bytes in the source's encoding,
// so that most lines of a novel are never decoded. It may let through a
// line without any heading's shape, never stop one that has one: a line
// passes when its first character starts some shape (第, 卷, a bracket, a
// digit, a section word's first two characters, a Chinese numeral followed
// by another, a blank, a separator or a unit), its last character ends one
// (a numeral, 序), it holds 第 (which the line-end search tells, see
// probe()), or a space or U+3000 stands among its first characters (正文
// 前言).

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/text.h"  // probe_bytes

namespace quorrel {

// What one look at a line tells the survey: where it ends (as
// line_rules::find_end() looking for 第), its indent, and where
// separators (space or U+3000) may stand just after it.
struct line_scan {
  static constexpr std::size_t unknown = static_cast<std::size_t>(-1);
  line_end end;
  // Bytes of spaces, tabs and U+3000 that start the line (all of them: a
  // blank line); `unknown` when they were not counted, and then nothing
  // below was looked for.
  std::size_t indent = unknown;
  // Bit k: a separator's bytes stand k bytes after the indent (k < 64, the
  // separator within the line). They may stand across two characters.
  std::uint64_t separators = 0;
};

// What the survey needs of a line: where it ends, whether it is blank and,
// if not, whether it may have a heading's shape.
struct line_look {
  std::size_t length = 0;      // without its end
  std::size_t terminator = 0;  // bytes of its end; 0: none seen
  bool blank = false;
  bool may_be_shaped = false;
};

// Where the lines of a block of the source end, and where 第 and the
// separators stand in it: a bit per byte, 64 to a word, found 32 bytes (or,
// without AVX2, sixteen) at a time in one pass over the block. The survey
// asks it about each line instead of starting a search of its own on every
// line. For encodings of one-byte units: in UTF-16 a CR's or a space's
// byte may stand inside a character.
class line_index {
 public:
  // Zero bytes that must follow a block in memory, for the index to read
  // past its end.
  static constexpr std::size_t padding = 96;
  // 第 and U+3000 in the block's encoding (empty: it has none).
  line_index(const std::string& di, const std::string& wide_space);
  // Whether this processor indexes 32 bytes at a time (AVX2).
  static bool wide_lanes();
  // `wide`: 32 bytes at a time where the processor can; the tests index
  // each block both ways.
  void build(std::string_view block, bool wide = wide_lanes());
  // The line that starts at byte `at` of the block.
  line_scan line(std::size_t at) const;
  // The same, fact by fact. Where the line ends: the byte of its CR or LF,
  // or the block's size.
  std::size_t end_of(std::size_t at) const;
  std::size_t terminator(std::size_t end) const;  // bytes of the line end at `end`; 0: the block's end
  std::size_t past_indent(std::size_t at, std::size_t end) const;
  bool holds_di(std::size_t from, std::size_t end) const;  // 第 in [from, end)
  // Bit k: a separator's bytes stand at `from` + k (k < 64), before `end`.
  std::uint64_t separators_from(std::size_t from, std::size_t end) const;
  std::string_view block() const { return block_; }

  // Once shape_filter::attend() has gone over the block, a bit at the end
  // (the CR or LF) of each line: of every line, of each line that is not
  // blank, and of each line the filter must look at; the filter's quick no
  // holds for every other line. Counted or found in [from, to) of the
  // block; `none` (or `to`, for next_attention) when there is none.
  static constexpr std::size_t none = static_cast<std::size_t>(-1);
  std::size_t lines_in(std::size_t from, std::size_t to) const;
  std::size_t nonblank_in(std::size_t from, std::size_t to) const;
  std::size_t next_attention(std::size_t from, std::size_t to) const;
  std::size_t last_end(std::size_t from, std::size_t to) const;
  std::size_t last_nonblank(std::size_t from, std::size_t to) const;

  // Where a kernel writes a block's words: bit i of word w for byte
  // 64 w + i, a CR or LF, the start of 第, of a separator, a CR, a space
  // or tab, U+3000's first byte and a byte from 0x80.
  struct word_bits {
    std::uint64_t ends = 0, di = 0, separators = 0, cr = 0, narrow = 0, lead = 0, high = 0;
  };
  struct word_arrays {
    std::uint64_t *ends, *di, *separators, *cr, *narrow, *lead, *high;
    void put(std::size_t w, const word_bits& got) const {
      ends[w] = got.ends;
      di[w] = got.di;
      separators[w] = got.separators;
      cr[w] = got.cr;
      narrow[w] = got.narrow;
      lead[w] = got.lead;
      high[w] = got.high;
    }
  };

  // A character looked for, of one to three bytes (size 0: none).
  struct mark {
    explicit mark(const std::string& character);
    std::size_t size;
    char bytes[3] = {};
    // Four bytes that hold the mark first, under `mask`, equal `word`;
    // never for a mark of no bytes.
    std::uint32_t word = 1, mask = 0;
  };

 private:
  bool any_di_;  // 第 is not in this encoding: every line may hold it
  mark di_mark_, wide_;
  std::string_view block_;
  std::size_t words_ = 0;  // indexed: the block's, and the one its end stands in
  std::vector<std::uint64_t> ends_, di_, separators_, cr_, narrow_, lead_, high_;
  // Written by shape_filter::attend(): by line end, and the bits of the
  // words before each.
  friend class shape_filter;
  std::vector<std::uint64_t> line_ends_, nonblank_, attention_;
  std::vector<std::uint32_t> ends_before_, nonblank_before_;
};

class shape_filter {
 public:
  explicit shape_filter(const encoding& enc);

  // The line that starts `text`, looked at byte by byte; a line_index()
  // tells the same of a whole block at once. In UTF-16 the separators are
  // not looked for.
  line_scan scan(std::string_view text) const;
  // An index of blocks of this encoding; none for UTF-16.
  std::optional<line_index> index() const;
  // `line` without its end, as scan() or an index saw it.
  bool may_be_shaped(std::string_view line, const line_scan& scan) const;
  // The line at byte `at` of an indexed block, or the one that starts
  // `text` (in UTF-16): what scan() and may_be_shaped() tell of it.
  line_look look(const line_index& index, std::size_t at) const;
  line_look look(std::string_view text) const;
  // Marks in a built index the lines look() must be asked about: those
  // that hold 第, a separator after their indent, or a first or last
  // character the quick no does not rule out, and very short ones. False
  // (nothing marked) where it cannot tell: every line must then be looked at.
  bool attend(line_index& index) const;
  // The bytes of 第, for the line-end search to look for.
  probe_bytes probe() const { return probe_; }
  // Characters in a line, counted from its bytes when it has at most
  // `most` of them (a surrogate pair counts two); more than `most`
  // otherwise.
  std::size_t characters(std::string_view line, std::size_t most) const;

 private:
  template <int kind>
  void attend_words(line_index& index) const;
  template <int kind>
  void attend_words_popcnt(line_index& index) const;
  std::size_t first_length(std::string_view s) const;  // bytes of the first character
  // Whether a character starts at byte `at`, walking on from `walked` (a
  // character start at or before it, left at or after `at`).
  bool starts_character(std::string_view s, std::size_t at, std::size_t& walked) const;
  unsigned first_key(std::string_view s) const;  // at least two bytes
  // Whether the first character of `s`, a line's content, may open a
  // shape (U+00A0 may: it is trimmed). A numeral may only when what follows
  // it may follow one in a heading, or when the line ends within a byte of
  // it: at the end of `s`, or at a CR or LF where `s` runs on past the line.
  bool may_open_shape(std::string_view s) const;
  // Whether the last character of `s`, the end of a line's content, may
  // close a shape: a numeral, a digit, 序, or a blank (trimmed).
  bool may_close_shape(std::string_view s) const;
  unsigned last_key(std::string_view s) const;
  std::string_view trim(std::string_view line) const;
  bool starts_with_nbsp(std::string_view s) const;
  bool ends_with_blank(std::string_view s) const;  // a blank's bytes end it

  encoding enc_;
  line_rules rules_;
  std::string wide_space_;     // U+3000, when the encoding has it
  std::string nbsp_;           // U+00A0, when the encoding has it
  std::bitset<65536> firsts_;  // always_, numerals_ and section_starts_
  // Whether the line surely has no heading's shape, told at once for most
  // lines of a book from the scan and the line's first and last characters:
  // may_be_shaped()'s quick no.
  bool surely_body(std::string_view line, const line_scan& scan) const;
  // The rest of may_be_shaped(), character by character.
  bool looks_shaped(std::string_view line, const line_scan& scan) const;
  // Whether a separator of line_scan::separators, counted from the start
  // of `s`, starts a character: its bytes may stand across two.
  bool separator_starts_character(std::string_view s, std::uint64_t separators) const;
  std::vector<std::string> blanks_;             // in the source's encoding
  std::vector<std::string> separators_;         // the blanks that end a prefix: space and U+3000
  std::bitset<256> blank_starts_, blank_ends_;  // their first and last bytes
  // By key (first_key): a code point in UTF-8, else a character's first
  // (or, for lasts_, last) two bytes.
  std::bitset<65536> always_;          // a first character that starts a shape
  std::bitset<65536> numerals_;        // ... of a Chinese numeral
  std::bitset<65536> after_numeral_;   // ... of what may follow one in a heading
  std::bitset<65536> section_starts_;  // ... of a section word's first character
  std::vector<std::string> sections_;  // the first two characters of each section word
  std::bitset<65536> lasts_;           // last two bytes of a last character that ends a shape
  probe_bytes probe_;                  // 第 in a byte encoding; none in UTF-16, which is searched for di_
  std::string di_;
};

// Inline, as the pieces of it: the survey asks them of every line.
// Most lines end within the word they start in or the next, which the
// lookups below tell without a branch that depends on the text.
inline std::size_t line_index::end_of(std::size_t at) const {
  const std::size_t w = at / 64;
  const std::uint64_t here = ends_[w] & (~std::uint64_t{0} << (at % 64)), next = ends_[w + 1];
  if ((here | next) != 0) {
    const std::uint64_t bits = here != 0 ? here : next;
    return (here != 0 ? w : w + 1) * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
  }
  // The padding's zeros set no bit: past the block, no line ends.
  const std::size_t size = block_.size(), last = size / 64;
  for (std::size_t v = w + 2; v <= last; ++v)
    if (ends_[v] != 0) return v * 64 + static_cast<std::size_t>(__builtin_ctzll(ends_[v]));
  return size;
}

inline std::size_t line_index::terminator(std::size_t end) const {
  // The padding's zeros are no LF.
  if (end == block_.size()) return 0;
  return block_[end] == '\r' && block_.data()[end + 1] == '\n' ? 2 : 1;
}

inline std::size_t line_index::past_indent(std::size_t at, std::size_t end) const {
  // The byte at `end` is a CR, an LF or the padding's zero, which no blank
  // holds: the steps need not stop there. Four steps without a branch take
  // the usual indents; a longer one goes on in the loop.
  const char* const data = block_.data();
  const auto step = [&](std::size_t i) -> std::size_t {
    std::uint32_t four;
    std::memcpy(&four, data + i, sizeof four);
    const bool wide = (four & wide_.mask) == wide_.word;
    const bool narrow = (data[i] == ' ') | (data[i] == '\t');
    return wide ? wide_.size : static_cast<std::size_t>(narrow);
  };
  std::size_t taken = 1;
  for (int i = 0; i < 4; ++i) {
    taken = step(at);
    at += taken;
  }
  while (taken != 0) {
    taken = step(at);
    at += taken;
  }
  return std::min(at, end);
}

inline bool line_index::holds_di(std::size_t from, std::size_t end) const {
  if (any_di_) return true;
  if (end <= from) return false;
  const std::size_t first = from / 64, final = (end - 1) / 64;
  const std::uint64_t head = ~std::uint64_t{0} << (from % 64),
                      tail = ~std::uint64_t{0} >> (63 - (end - 1) % 64);
  if (final <= first + 1) {
    // One word or two, masked without a branch.
    const std::uint64_t one = final == first ? head & tail : head;
    const std::uint64_t two = final == first ? 0 : tail;
    return ((di_[first] & one) | (di_[first + 1] & two)) != 0;
  }
  if ((di_[first] & head) != 0 || (di_[final] & tail) != 0) return true;
  for (std::size_t v = first + 1; v < final; ++v)
    if (di_[v] != 0) return true;
  return false;
}

inline std::uint64_t line_index::separators_from(std::size_t from, std::size_t end) const {
  if (from >= end) return 0;
  const std::size_t word = from / 64, shift = from % 64;
  // The next word's bits, shifted in twice: a shift by 64 would be undefined.
  const std::uint64_t ahead = separators_[word] >> shift | (separators_[word + 1] << 1) << (63 - shift);
  const std::size_t length = std::min<std::size_t>(end - from, 64);
  const std::uint64_t within = length == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << length) - 1;
  return ahead & within;
}

inline line_scan line_index::line(std::size_t at) const {
  const std::size_t end = end_of(at);
  const std::size_t from = past_indent(at, end);
  return {{end - at, terminator(end), holds_di(at, end)}, from - at, separators_from(from, end)};
}

// The quick no of surely_body() first, from the index; the rest of the
// look only for the few lines it does not rule out.
inline line_look shape_filter::look(const line_index& index, std::size_t at) const {
  const std::size_t end = index.end_of(at);
  const std::size_t from = index.past_indent(at, end);
  line_look out{end - at, index.terminator(end), from == end, false};
  if (out.blank) return out;
  const std::string_view line = index.block().substr(at, end - at);
  const std::string_view s = line.substr(from - at);
  if (s.size() < 2 || may_open_shape(s) || may_close_shape(s) || index.holds_di(at, end) ||
      separator_starts_character(s, index.separators_from(from, end)))
    out.may_be_shaped = may_be_shaped(line, index.line(at));
  return out;
}

// The code point of the UTF-8 character that starts at `s`'s first byte
// (or ends at its last), 0xFFFF past the BMP or for a broken one.
inline unsigned utf8_first(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(s[i])); };
  if (b(0) < 0x80) return b(0);
  if (b(0) >= 0xC0 && b(0) < 0xE0 && s.size() >= 2) return (b(0) & 0x1F) << 6 | (b(1) & 0x3F);
  if (b(0) >= 0xE0 && b(0) < 0xF0 && s.size() >= 3)
    return (b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F);
  return 0xFFFF;
}

inline unsigned utf8_last(std::string_view s) {
  std::size_t start = s.size() - 1;
  while (start > 0 && s.size() - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
  return utf8_first(s.substr(start));
}

// A character's key: its code point in UTF-8, its first (or last) two
// bytes in every other encoding, which tell a two-byte character exactly.
inline unsigned shape_filter::first_key(std::string_view s) const {
  if (enc_.layout == char_layout::utf8) return utf8_first(s);
  return static_cast<unsigned>(static_cast<unsigned char>(s[0])) << 8 | static_cast<unsigned char>(s[1]);
}

inline unsigned shape_filter::last_key(std::string_view s) const {
  if (enc_.layout == char_layout::utf8) return utf8_last(s);
  return static_cast<unsigned>(static_cast<unsigned char>(s[s.size() - 2])) << 8 |
         static_cast<unsigned char>(s[s.size() - 1]);
}

// Most lines that start with a numeral are prose (一个人, 三月里).
inline bool shape_filter::may_open_shape(std::string_view s) const {
  if (blank_starts_[static_cast<unsigned char>(s[0])] && starts_with_nbsp(s)) return true;
  const unsigned first = first_key(s);
  if (!firsts_[first]) return false;
  if (always_[first] || section_starts_[first]) return true;
  const std::size_t next = first_length(s);
  if (next + 1 >= s.size()) return true;
  const auto ends = [&](std::size_t at) { return s[at] == '\r' || s[at] == '\n'; };
  return ends(next) || ends(next + 1) || after_numeral_[first_key(s.substr(next))];
}

inline bool shape_filter::may_close_shape(std::string_view s) const {
  return lasts_[last_key(s)] || (blank_ends_[static_cast<unsigned char>(s.back())] && ends_with_blank(s));
}

// Inline, as the one below: called for characters of many lines.
inline std::size_t shape_filter::first_length(std::string_view s) const {
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

inline bool shape_filter::starts_character(std::string_view s, std::size_t at, std::size_t& walked) const {
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

inline bool shape_filter::separator_starts_character(std::string_view s, std::uint64_t at) const {
  // Only those within `s`: the blanks trimmed off its end are no separator,
  // and the walk must not pass its end.
  const std::uint64_t within = s.size() >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << s.size()) - 1;
  std::size_t walked = 0;
  for (std::uint64_t bits = at & within; bits != 0; bits &= bits - 1)
    if (starts_character(s, static_cast<std::size_t>(__builtin_ctzll(bits)), walked)) return true;
  return false;
}

}  // namespace quorrel

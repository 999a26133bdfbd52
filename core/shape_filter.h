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

#include <bitset>
#include <cstddef>
#include <cstdint>
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

// Where the lines of a block of the source end, and where 第 and the
// separators stand in it: a bit per byte, 64 to a word, found sixteen bytes
// at a time in one pass over the block. The survey asks it about each line
// instead of starting a search of its own on every line. For encodings of
// one-byte units: in UTF-16 a CR's or a space's byte may stand inside a
// character.
class line_index {
 public:
  // Zero bytes that must follow a block in memory, for the index to read
  // past its end.
  static constexpr std::size_t padding = 96;
  // 第 and U+3000 in the block's encoding (empty: it has none).
  line_index(const std::string& di, const std::string& wide_space);
  void build(std::string_view block);
  // The line that starts at byte `at` of the block.
  line_scan line(std::size_t at) const;

  // A character looked for, of one to three bytes (size 0: none).
  struct mark {
    explicit mark(const std::string& character);
    std::size_t size;
    char bytes[3] = {};
  };

 private:
  bool any_di_;  // 第 is not in this encoding: every line may hold it
  mark di_mark_, wide_;
  std::string_view block_;
  std::size_t words_ = 0;  // indexed: the block's, and the one its end stands in
  std::vector<std::uint64_t> ends_, di_, separators_;
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
  // The bytes of 第, for the line-end search to look for.
  probe_bytes probe() const { return probe_; }
  // Characters in a line, counted from its bytes when it has at most
  // `most` of them (a surrogate pair counts two); more than `most`
  // otherwise.
  std::size_t characters(std::string_view line, std::size_t most) const;

 private:
  std::size_t first_length(std::string_view s) const;  // bytes of the first character
  // Whether a character starts at byte `at`, walking on from `walked` (a
  // character start at or before it, left at or after `at`).
  bool starts_character(std::string_view s, std::size_t at, std::size_t& walked) const;
  unsigned first_key(std::string_view s) const;  // at least two bytes
  unsigned last_key(std::string_view s) const;
  std::string_view trim(std::string_view line) const;

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

// Inline: the survey asks it of every line.
inline line_scan line_index::line(std::size_t at) const {
  // The padding's zeros set no bit: past the block, no line ends.
  const std::size_t size = block_.size();
  std::size_t w = at / 64;
  std::uint64_t bits = ends_[w] & (~std::uint64_t{0} << (at % 64));
  const std::size_t last = size / 64;
  while (bits == 0 && w < last) bits = ends_[++w];
  const std::size_t end = bits == 0 ? size : w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
  // 第 anywhere in [at, end), word by word (most lines take one or two).
  bool di = any_di_;
  if (end > at) {
    const std::size_t final = (end - 1) / 64;
    std::uint64_t in = ~std::uint64_t{0} << (at % 64);
    for (std::size_t v = at / 64; !di; ++v) {
      if (v == final) in &= ~std::uint64_t{0} >> (63 - (end - 1) % 64);
      di = (di_[v] & in) != 0;
      if (v == final) break;
      in = ~std::uint64_t{0};
    }
  }
  const char* const data = block_.data();
  std::size_t from = at;  // past the indent
  for (;;) {
    if (from < end && (data[from] == ' ' || data[from] == '\t')) {
      ++from;
    } else if (wide_.size > 0 && from + wide_.size <= end && data[from] == wide_.bytes[0] &&
               data[from + 1] == wide_.bytes[1] && (wide_.size < 3 || data[from + 2] == wide_.bytes[2])) {
      from += wide_.size;
    } else {
      break;
    }
  }
  // The separators' bits of the 64 bytes after it, within the line.
  std::uint64_t ahead = 0;  // not "near": a macro of windows.h
  if (from < end) {
    const std::size_t word = from / 64, shift = from % 64;
    ahead = separators_[word] >> shift;
    if (shift != 0 && word + 1 < words_) ahead |= separators_[word + 1] << (64 - shift);
    if (end - from < 64) ahead &= (std::uint64_t{1} << (end - from)) - 1;
  }
  const bool crlf = end + 1 < size && data[end] == '\r' && data[end + 1] == '\n';
  return {{end - at, end == size ? 0u : crlf ? 2u : 1u, di}, from - at, ahead};
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

}  // namespace quorrel

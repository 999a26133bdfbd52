#pragma once
// Lines as bytes in the source's encoding: where a line ends, whether it is
// blank, where a character starts. Nothing here allocates per line, and
// every test takes time linear in the line. Whether a line is a heading is
// the heading rule's to say (core/heading_rule.h).

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>  // the line-end search, sixteen bytes at a time
#endif

#include "core/encoding.h"

namespace quorrel {

// Where the next line ends in `text`, which starts at a line's beginning.
struct line_end {
  std::size_t length = 0;      // bytes of the line, line end excluded
  std::size_t terminator = 0;  // bytes of the line end: 0 (none found), or CR, LF, CR LF
  bool holds_probe = true;     // false only when the line surely lacks the probe
};

// Bytes that every heading holds side by side: `first`, then `second` (-1:
// any byte). With `first` -1 there is nothing to look for.
struct probe_bytes {
  int first = -1, second = -1;
  bool operator==(const probe_bytes&) const = default;
};

class line_rules {
 public:
  explicit line_rules(const encoding& enc);

  // The first CR, LF or CR LF in `text`. terminator is 0 when there is none.
  // A CR at the very end of `text` is reported as a one-unit terminator: the
  // caller that may have more bytes must look again once it has them.
  // With a probe, also tells whether the line holds it: the same pass over
  // the bytes, so a heading test can skip most lines for free.
  line_end find_end(std::string_view text, probe_bytes probe = {}) const {
    return wide_ ? find_end_wide(text) : find_end_bytes(text, probe);
  }

  // Only spaces, tabs and ideographic spaces (or nothing).
  bool is_blank(std::string_view line) const { return wide_ ? is_blank_wide(line) : is_blank_bytes(line); }

  // How many bytes at the start of `text` are whole blank characters.
  std::size_t blank_length(std::string_view text) const;
  // The most bytes a blank character takes.
  std::size_t longest_blank() const;

  // Whether a character starts at byte `pos` of `line`.
  bool starts_character(std::string_view line, std::size_t pos) const {
    std::size_t walked = 0;
    return starts_character(line, pos, walked);
  }
  // The same, for GB18030 and Big5 walking forward from `walked`, a
  // character start at or before `pos`, which it leaves at the first
  // character start at or after `pos`. Asked again with a greater `pos`, the
  // walk goes on from there, so asking at increasing places costs one walk
  // over the line in all. (Other encodings tell from the bytes at `pos`, and
  // just move `walked` up to `pos`.) Byte 0 of `line` must start a character,
  // at an even offset of the line for UTF-16.
  bool starts_character(std::string_view line, std::size_t pos, std::size_t& walked) const;

  const std::string& crlf() const { return crlf_; }

 private:
  // Called for every line of the source, so inline for the byte encodings
  // (every one but UTF-16).
  line_end find_end_bytes(std::string_view text, probe_bytes probe) const;
  bool is_blank_bytes(std::string_view line) const;
  line_end find_end_wide(std::string_view text) const;
  bool is_blank_wide(std::string_view line) const;

  struct blank {
    char bytes[4];
    std::size_t size;  // 0: this encoding has no such character
  };
  char_layout layout_;
  bool wide_;                    // UTF-16: CR, LF and blanks are two bytes
  std::array<blank, 3> blanks_;  // ideographic space (the usual indent), space, tab
  std::string crlf_;
};

// Index of the first CR or LF in data[0, size), or size; `seen` tells
// whether the probe occurs before it. Lines are short, so one pass looking
// for all of them beats separate calls to memchr.
inline std::size_t first_cr_or_lf(const char* data, std::size_t size, probe_bytes probe, bool& seen) {
  const char first = static_cast<char>(probe.first), second = static_cast<char>(probe.second);
  const bool any_second = probe.second < 0;
  std::size_t i = 0;
  unsigned hits = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  const __m128i wanted = _mm_set1_epi8(first), then = _mm_set1_epi8(second);
  const __m128i any = any_second ? _mm_set1_epi8(-1) : _mm_setzero_si128();
  for (; i + 17 <= size; i += 16) {  // one byte more for the probe's second byte
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
    const auto ends = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf))));
    const auto found = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_and_si128(_mm_cmpeq_epi8(block, wanted), _mm_or_si128(_mm_cmpeq_epi8(next, then), any))));
    if (ends != 0) {
      const auto at = static_cast<unsigned>(__builtin_ctz(ends));
      seen = (hits | (found & ((1u << at) - 1))) != 0;
      return i + at;
    }
    hits |= found;
  }
#endif
  for (; i < size; ++i) {
    if (data[i] == '\r' || data[i] == '\n') break;
    hits |= data[i] == first && (any_second || (i + 1 < size && data[i + 1] == second));
  }
  seen = hits != 0;
  return i;
}

inline line_end line_rules::find_end_bytes(std::string_view text, probe_bytes probe) const {
  // Neither CR nor LF is ever part of a multi-byte character in the
  // encodings we walk, so a byte search is exact.
  const char* data = text.data();
  const std::size_t size = text.size();
  bool seen = false;
  const std::size_t at = first_cr_or_lf(data, size, probe, seen);
  const bool holds_probe = probe.first < 0 || seen;
  if (at == size) return {size, 0, holds_probe};
  const bool crlf = data[at] == '\r' && at + 1 < size && data[at + 1] == '\n';
  return {at, crlf ? 2u : 1u, holds_probe};
}

inline bool line_rules::is_blank_bytes(std::string_view line) const {
  const blank& wide_space = blanks_[0];  // absent (size 0) in single-byte encodings
  const char* p = line.data();
  const char* const end = p + line.size();
  while (p < end) {
    if (*p == ' ' || *p == '\t') {
      ++p;
      continue;
    }
    if (wide_space.size == 0 || *p != wide_space.bytes[0] ||
        static_cast<std::size_t>(end - p) < wide_space.size)
      return false;
    for (std::size_t i = 1; i < wide_space.size; ++i)
      if (p[i] != wide_space.bytes[i]) return false;
    p += wide_space.size;
  }
  return true;
}

}  // namespace quorrel

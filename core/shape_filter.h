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
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/text.h"  // probe_bytes

namespace quorrel {

class shape_filter {
 public:
  explicit shape_filter(const encoding& enc);

  // `holds_probe`: false when the line surely lacks probe()'s bytes.
  bool may_be_shaped(std::string_view line, bool holds_probe) const;
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

}  // namespace quorrel

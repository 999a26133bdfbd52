#pragma once
// Lines as bytes in the source's encoding: where a line ends, whether it is
// blank, and whether it is a heading. Nothing here allocates per line.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  line_end find_end(std::string_view text, probe_bytes probe = {}) const;

  // Only spaces, tabs and ideographic spaces (or nothing).
  bool is_blank(std::string_view line) const;

  // Whether a character starts at byte `pos` of `line`.
  bool starts_character(std::string_view line, std::size_t pos) const;

  const std::string& crlf() const { return crlf_; }

 private:
  struct blank {
    char bytes[4];
    std::size_t size;  // 0: this encoding has no such character
  };
  char_layout layout_;
  std::array<blank, 3> blanks_;  // ideographic space (the usual indent), space, tab
  std::string crlf_;
};

// The heading test: a line is a heading when every keyword occurs in it,
// byte for byte in the source's encoding, starting on a character boundary.
// An empty list makes every line a heading; a keyword that cannot be written
// in the source's encoding makes none.
//
// Speed: most lines are not headings, so the test is built to reject fast.
// Each keyword is looked for by the first byte of its rarest pair of bytes
// (memchr, then a compare), and the keyword with the rarest pair is tested
// first; that pair is also the probe the line-end search looks for, so most
// lines never reach the test. "Rare" is judged from a sample of the source
// itself: single bytes are common in Chinese text, pairs much less so.
class heading_test {
 public:
  explicit heading_test(const encoding& enc, std::string_view sample = {});

  void set_keywords(const std::vector<std::string>& utf8_keywords);
  bool operator()(std::string_view line) const;

  // What every heading holds, if anything: a line without it is not a
  // heading.
  probe_bytes probe() const { return probe_; }

 private:
  struct keyword {
    std::string bytes;  // in the source's encoding
    std::size_t probe;  // index of its rarest pair of bytes (or of its only byte)
  };
  std::uint32_t rarity(const std::string& bytes, std::size_t at) const;
  bool occurs(std::string_view line, const keyword& k) const;

  encoding encoding_;
  line_rules rules_;
  // How often each byte, and each pair of bytes, occurs in the sample.
  std::vector<std::uint32_t> byte_count_, pair_count_;
  std::vector<keyword> keywords_;          // rarest first
  bool unmatchable_ = false;
  probe_bytes probe_;
};

}  // namespace quorrel

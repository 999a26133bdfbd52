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
};

class line_rules {
 public:
  explicit line_rules(const encoding& enc);

  // The first CR, LF or CR LF in `text`. terminator is 0 when there is none.
  // A CR at the very end of `text` is reported as a one-unit terminator: the
  // caller that may have more bytes must look again once it has them.
  line_end find_end(std::string_view text) const;

  // Only spaces, tabs and ideographic spaces (or nothing).
  bool is_blank(std::string_view line) const;

  // Whether a character starts at byte `pos` of `line`.
  bool starts_character(std::string_view line, std::size_t pos) const;

  const std::string& crlf() const { return crlf_; }

 private:
  char_layout layout_;
  std::array<std::string, 3> blanks_;  // space, ideographic space ("" if none), tab
  std::string crlf_;
};

// The heading test: a line is a heading when every keyword occurs in it,
// byte for byte in the source's encoding, starting on a character boundary.
// An empty list makes every line a heading; a keyword that cannot be written
// in the source's encoding makes none.
//
// Speed: most lines are not headings, so the test is built to reject fast.
// Each keyword is looked for by its rarest byte (memchr, then a compare),
// and the keyword with the rarest byte is tested first. "Rare" is judged
// from a sample of the source itself.
class heading_test {
 public:
  explicit heading_test(const encoding& enc, std::string_view sample = {});

  void set_keywords(const std::vector<std::string>& utf8_keywords);
  bool operator()(std::string_view line) const;

 private:
  struct keyword {
    std::string bytes;  // in the source's encoding
    std::size_t probe;  // index of its rarest byte
  };
  bool occurs(std::string_view line, const keyword& k) const;

  encoding encoding_;
  line_rules rules_;
  std::vector<std::uint32_t> byte_count_;  // how often each byte value occurs in the sample
  std::vector<keyword> keywords_;          // rarest first
  bool unmatchable_ = false;
};

}  // namespace quorrel

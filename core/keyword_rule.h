#pragma once
// The keyword rule: a line is a heading when every keyword of the host's
// list occurs in it (the window's rule, and the default of quorrel-split).
// The list is asked for afresh before each line (rule_host), so an edit
// during a run applies to the lines after it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "core/heading_rule.h"
#include "core/text.h"  // line_rules, probe_bytes

namespace quorrel {

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

  // The same test over a line given in parts, for a line too long to hold:
  // begin_parts(), then part() for each window of the line until the last,
  // then found(). A window is the bytes of the line from `base` (0 at
  // first), held whole: the bytes kept from the window before, then new
  // ones. part() says where the next window must start (a multiple of 4, at
  // most the end of this one); it never needs more than longest() + 8 bytes
  // kept.
  void begin_parts();
  std::size_t part(std::string_view window, std::size_t base, bool last);
  bool found() const;
  std::size_t longest() const { return longest_; }

  // What every heading holds, if anything: a line without it is not a
  // heading.
  probe_bytes probe() const { return probe_; }

 private:
  struct keyword {
    std::string bytes;  // in the source's encoding
    std::size_t probe;  // index of its rarest pair of bytes (or of its only byte)
  };
  // Where a keyword is looked for in a line given in parts.
  struct place {
    std::size_t next = 0;    // the first byte of the line where it may still start
    std::size_t walked = 0;  // where the character walk stands: at most 3 bytes past `next`
    bool found = false;
  };
  std::uint32_t rarity(const std::string& bytes, std::size_t at) const;
  // Whether `k` starts in `text` at a character start, anywhere from `from`
  // to `last` (bytes of `text`); `walked` as for starts_character().
  bool occurs(std::string_view text, const keyword& k, std::size_t from, std::size_t last,
              std::size_t& walked) const;

  encoding encoding_;
  line_rules rules_;
  // How often each byte, and each pair of bytes, occurs in the sample.
  std::vector<std::uint32_t> byte_count_, pair_count_;
  std::vector<keyword> keywords_;  // rarest first
  std::vector<place> places_;      // one per keyword, for a line given in parts
  std::size_t longest_ = 0;        // bytes of the longest keyword
  bool unmatchable_ = false;
  probe_bytes probe_;
};

// The rule for a run over a source in `enc`; `sample`, the start of the
// source, tells which bytes are rare.
std::unique_ptr<heading_rule> make_keyword_rule(const encoding& enc, std::string_view sample);

}  // namespace quorrel

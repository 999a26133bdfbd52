#pragma once
// Which encoding a source is in, and conversion of short texts (keywords,
// lines shown to the user) between it and UTF-8. The splitter itself never
// converts a source: it works on bytes and uses the layout below to find
// character boundaries and blank lines.
//
// All conversion and detection goes through ICU, here and nowhere else, on
// every system: the Windows build links its own ICU, so the same text gets
// the same answer everywhere.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorrel {

// How characters are laid out in bytes; decides where a character may start.
enum class char_layout {
  single_byte,  // every byte is a character
  utf8,
  utf16le,
  utf16be,
  gb18030,  // GB18030 and its subsets GBK and GB2312: 1, 2 or 4 bytes
  big5,     // 1 or 2 bytes
};

struct encoding {
  std::string name;  // ICU converter name: "UTF-8", "GB18030", "Big5", "UTF-16LE"...
  std::string bom;   // the byte-order mark the source starts with, "" if none
  char_layout layout = char_layout::utf8;

  int unit_size() const { return layout == char_layout::utf16le || layout == char_layout::utf16be ? 2 : 1; }
  friend bool operator==(const encoding&, const encoding&) = default;
};

// An encoding given by name (--encoding): ICU's names and aliases, any case.
// nullopt when ICU does not know it or its byte layout is not one the splitter
// can walk (stateful or multi-byte encodings other than those above).
std::optional<encoding> encoding_by_name(std::string_view name);

// The encoding a byte-order mark at the start of `head` names, if any.
std::optional<encoding> encoding_from_bom(std::string_view head);

// UTF-16LE or UTF-16BE without a byte-order mark, recognised from the line
// ends in `head` (the start of the file): CR or LF as 0D 00 / 0A 00 at even
// offsets (little endian) or 00 0D / 00 0A (big endian), and no 0D or 0A
// byte on the other side of a pair. nullopt when `head` has no such line end,
// or is valid UTF-8 holding more than ASCII (UTF-8 text with NUL bytes).
std::optional<encoding> encoding_from_line_ends(std::string_view head);

// The encoding of a whole source, decided from its bytes:
//   1. a byte-order mark: UTF-8, UTF-16LE or UTF-16BE; without one, UTF-16
//      recognised by its line ends (encoding_from_line_ends);
//   2. otherwise, if the file passes as UTF-8 (passes_as_utf8): UTF-8;
//   3. otherwise GB18030, or Big5 when ICU's detector is confident of it.
// `head` is the start of the file (the detector looks at up to 64 KiB of it);
// `utf8` says whether the whole file passes as UTF-8.
encoding detect_encoding(std::string_view head, bool utf8);

// A file passes as UTF-8 when all but a few of its sequences are valid: at
// most utf8_most_faults invalid ones, and at least utf8_characters_per_fault
// characters outside ASCII for each. So a stray byte does not turn a UTF-8
// book into GB18030, while GBK or Big5 text, where most characters are
// invalid UTF-8, never passes, however short. `characters` counts the bytes
// from 0xC0 up (each starts a character of two bytes or more).
inline constexpr std::uint64_t utf8_most_faults = 16;
inline constexpr std::uint64_t utf8_characters_per_fault = 1000;
constexpr bool passes_as_utf8(std::uint64_t faults, std::uint64_t characters) {
  return faults <= utf8_most_faults && characters >= faults * utf8_characters_per_fault;
}

// Sequences of a source read as UTF-8 that are not valid UTF-8: how many,
// and the 1-based line of the first (0 when there are none).
struct invalid_sequences {
  std::uint64_t count = 0;
  std::int64_t first_line = 0;
};

// Checks a byte stream against UTF-8, fed in blocks of any size (a sequence
// may straddle two blocks). Counts the invalid sequences as ICU does when it
// replaces them: one for each byte that cannot start a character, and one
// for a start of a character that goes wrong (its lead byte with the
// continuation bytes that fit), the byte that breaks it starting afresh.
// Also counts the characters outside ASCII, up to characters_counted (enough
// to judge passes_as_utf8).
class utf8_validator {
 public:
  static constexpr std::uint64_t characters_counted = utf8_most_faults * utf8_characters_per_fault;

  // More than `most_faults` invalid sequences end the check: feed() then
  // says false and reads no further.
  explicit utf8_validator(std::uint64_t most_faults = 0) : most_faults_(most_faults) {}
  bool feed(std::string_view bytes);
  // The end of the stream: a sequence cut off there is invalid too. True
  // when the stream holds no more than most_faults invalid sequences.
  bool finish();

  std::uint64_t faults() const { return faults_; }
  std::uint64_t first_fault() const { return first_fault_; }  // its byte in the stream, when faults() > 0
  std::uint64_t characters() const { return characters_; }

 private:
  bool within_limit() const { return faults_ <= most_faults_; }
  void fault(std::uint64_t at);
  void count_characters(const unsigned char* p, const unsigned char* end);

  std::uint64_t most_faults_;
  std::uint64_t faults_ = 0, first_fault_ = 0, characters_ = 0;
  std::uint64_t fed_ = 0;           // bytes before the current block
  int pending_ = 0;                 // continuation bytes still expected
  std::uint64_t pending_from_ = 0;  // where that sequence started
  unsigned char lower_ = 0x80;      // bounds of the next continuation byte
  unsigned char upper_ = 0xBF;
};

// `utf8` written in `enc`, without a byte-order mark; nullopt when a character
// cannot be written in it (or `utf8` is not valid UTF-8). Throws
// std::bad_alloc when the conversion runs out of memory.
std::optional<std::string> encode(std::string_view utf8, const encoding& enc);

// `bytes` in `enc` read as UTF-8, invalid sequences shown as U+FFFD. For
// display only.
std::string decode(std::string_view bytes, const encoding& enc);

// Whether a name given for an option's value (an encoding, a rule, a unit)
// is `name`: ASCII letters compared without regard to case, whatever the
// locale, every other byte exactly. "utf-8" and "UTF-8" are one name.
bool equal_ignoring_case(std::string_view given, std::string_view name);

}  // namespace quorrel

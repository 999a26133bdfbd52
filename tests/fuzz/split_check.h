#pragma once
// The invariants of a split, checked on the files a real run leaves on disk.
// Shared by the libFuzzer target (clang) and the replay test (any compiler),
// so both hold the core to the same rules:
//   - the pieces' lines, in order, are the source's non-blank lines, byte for
//     byte, as an independent line splitter written here finds them;
//   - every piece but a leading preamble starts with a heading, and no other
//     line of a piece is one (heading-ness is the core's heading_test);
//   - pieces are named destination + 0000, 0001, ... without a gap, and the
//     run reports each of them with its true size;
//   - a source with a byte-order mark gives pieces that start with it; every
//     piece ends with CR LF in the source's encoding;
//   - the encoding is the one the rules name: a forced one keeps its layout,
//     a detected one follows the mark, then whole-file UTF-8 validity;
//   - a dry run reports the same pieces and writes nothing.
//
// A case is decoded from raw bytes (the fuzzer's input), so that any byte
// string is a case and a saved crash reproduces exactly.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorrel::fuzzing {

struct split_case {
  std::optional<std::string> forced_encoding;  // nullopt: detect
  std::vector<std::string> keywords;           // UTF-8, or not (then they match nothing)
  std::string source;
};

// The encodings a case can force; index 0 stands for detection.
const std::vector<std::optional<std::string>>& encoding_choices();

// Byte 0 picks the encoding (modulo the number of choices), byte 1 the
// number of keywords (modulo 4); each keyword is a length byte (modulo 16)
// and that many bytes; the rest is the source. Missing bytes count as empty.
split_case decode_case(std::string_view data);
std::string encode_case(const split_case& c);

// Runs the split of `c` with its source and pieces in `folder` (which must
// exist and which the check empties after itself). Returns an empty string
// when every invariant holds, otherwise what broke, with the piece and bytes.
std::string check_split(const split_case& c, const std::string& folder);

}  // namespace quorrel::fuzzing

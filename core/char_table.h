#pragma once
// The characters of a one- or two-byte source encoding already written in a
// target encoding, looked up by their bytes, so that the bulk of a converted
// split costs a table lookup a character instead of two passes through ICU.
//
// The table is made by ICU itself, one character at a time, so every entry
// is exactly what ICU's converters give. It holds only what converts cleanly
// on its own: a byte or a pair of bytes that ICU reads as one character from
// a fresh state and that the target holds. Everything else (GB18030's
// four-byte characters, invalid or unmapped bytes, characters the target
// lacks) has no entry and is left to ICU by the caller, which keeps ICU's
// replacement and counting exactly. Built once per pair of encodings and
// shared, read-only; ICU's failed allocations throw std::bad_alloc.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/encoding.h"

namespace quorrel {

struct char_table {
  struct alignas(8) entry {
    char bytes[4];        // the character in the target; only `size` of them count
    std::uint8_t size;    // 0: no entry
    std::uint8_t length;  // bytes of the source it reads: 1 or 2
    bool line_end;        // CR or LF, only ever of one byte
    bool cr;
  };
  // By the next two bytes of the source, first + second * 256 (what a
  // little-endian machine loads from them at once): the character they
  // start with, one byte or two. The second byte decides nothing after a
  // one-byte character; a source's last byte is looked up in `single`.
  std::vector<entry> next;
  std::array<entry, 256> single{};
};

// The table from `from` to `to`, or null when `from` is not an encoding of
// one- and two-byte characters that a table can serve (UTF-8, UTF-16).
std::shared_ptr<const char_table> char_table_for(const encoding& from, const encoding& to);

}  // namespace quorrel

#pragma once
// A fast path for the UTF-8 validator: whole runs of valid text, sixteen
// bytes at a time. Used by utf8_validator only.

namespace quorrel {

// The end of the longest run of whole sixteen-byte steps from `p` (a
// character boundary) that is surely valid UTF-8 and ends on a character
// boundary; `p` itself when there is none, or when the processor lacks
// SSSE3. The caller judges everything from there on.
const unsigned char* skip_valid_utf8(const unsigned char* p, const unsigned char* end);

}  // namespace quorrel

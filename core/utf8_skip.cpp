#include "core/utf8_skip.h"

// The lookup method of Keiser and Lemire ("Validating UTF-8 in less than one
// instruction per byte", 2021): three table lookups classify every pair of
// adjacent bytes, and a fourth check finds the continuation bytes that a
// three- or four-byte lead two or three bytes back requires.

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUORREL_UTF8_SIMD 1
#endif

namespace quorrel {

#if QUORREL_UTF8_SIMD
namespace {

// One bit per kind of fault; a pair of bytes is faulty when all three
// lookups agree on a bit.
constexpr char too_short = 1 << 0;   // lead then lead or ASCII
constexpr char too_long = 1 << 1;    // ASCII then continuation
constexpr char overlong_3 = 1 << 2;  // E0 80..9F
constexpr char too_large = 1 << 3;   // F4 90.., F5..
constexpr char surrogate = 1 << 4;   // ED A0..BF
constexpr char overlong_2 = 1 << 5;  // C0, C1
constexpr char too_large_1000 = 1 << 6;
constexpr char overlong_4 = 1 << 6;                    // F0 80..8F
constexpr char two_conts = static_cast<char>(1 << 7);  // continuation then continuation
constexpr char carry = too_short | too_long | two_conts;

__attribute__((target("ssse3"))) __m128i high_nibbles(__m128i v) {
  return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F));
}

// Faults of `input`, given the sixteen bytes before it.
__attribute__((target("ssse3"))) __m128i faults(__m128i input, __m128i previous) {
  const __m128i prev1 = _mm_alignr_epi8(input, previous, 15);
  const __m128i byte_1_high = _mm_shuffle_epi8(
      _mm_setr_epi8(too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long, two_conts,
                    two_conts, two_conts, two_conts, too_short | overlong_2, too_short,
                    too_short | overlong_3 | surrogate, too_short | too_large | too_large_1000 | overlong_4),
      high_nibbles(prev1));
  const __m128i byte_1_low = _mm_shuffle_epi8(
      _mm_setr_epi8(carry | overlong_3 | overlong_2 | overlong_4, carry | overlong_2, carry, carry,
                    carry | too_large, carry | too_large | too_large_1000, carry | too_large | too_large_1000,
                    carry | too_large | too_large_1000, carry | too_large | too_large_1000,
                    carry | too_large | too_large_1000, carry | too_large | too_large_1000,
                    carry | too_large | too_large_1000, carry | too_large | too_large_1000,
                    carry | too_large | too_large_1000 | surrogate, carry | too_large | too_large_1000,
                    carry | too_large | too_large_1000),
      _mm_and_si128(prev1, _mm_set1_epi8(0x0F)));
  const __m128i byte_2_high = _mm_shuffle_epi8(
      _mm_setr_epi8(too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
                    too_long | overlong_2 | two_conts | overlong_3 | too_large_1000 | overlong_4,
                    too_long | overlong_2 | two_conts | overlong_3 | too_large,
                    too_long | overlong_2 | two_conts | surrogate | too_large,
                    too_long | overlong_2 | two_conts | surrogate | too_large, too_short, too_short,
                    too_short, too_short),
      high_nibbles(input));
  const __m128i special = _mm_and_si128(_mm_and_si128(byte_1_high, byte_1_low), byte_2_high);
  // A byte two after a three- or four-byte lead, or three after a four-byte
  // lead, must be a continuation: there the table said "two continuations
  // in a row" (bit 7), which is then expected rather than a fault.
  const __m128i prev2 = _mm_alignr_epi8(input, previous, 14);
  const __m128i prev3 = _mm_alignr_epi8(input, previous, 13);
  const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
  const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
  const __m128i expected = _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
  return _mm_xor_si128(expected, special);
}

// Whether the last bytes of `input` begin a character that goes on past it.
__attribute__((target("ssse3"))) bool cut_short(__m128i input) {
  const __m128i limits =
      _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                    static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(input, limits), _mm_setzero_si128())) != 0xFFFF;
}

__attribute__((target("ssse3"))) const unsigned char* skip_ssse3(const unsigned char* p,
                                                                 const unsigned char* end) {
  const unsigned char* good = p;
  __m128i previous = _mm_setzero_si128();  // as if ASCII came before: p is a boundary
  while (end - p >= 16) {
    const __m128i input = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(input) != 0 || _mm_movemask_epi8(previous) != 0) {
      const __m128i fault = faults(input, previous);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(fault, _mm_setzero_si128())) != 0xFFFF) break;
    }
    p += 16;
    previous = input;
    if (!cut_short(input)) good = p;
  }
  return good;
}

}  // namespace

const unsigned char* skip_valid_utf8(const unsigned char* p, const unsigned char* end) {
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  return ssse3 ? skip_ssse3(p, end) : p;
}

#else

const unsigned char* skip_valid_utf8(const unsigned char* p, const unsigned char*) { return p; }

#endif

}  // namespace quorrel

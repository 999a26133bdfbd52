#include "core/shape_filter.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUORREL_AVX2 1
#endif

namespace quorrel {
namespace {

unsigned pair(char a, char b) {
  return static_cast<unsigned>(static_cast<unsigned char>(a)) << 8 | static_cast<unsigned char>(b);
}

std::string utf8_of(char16_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

constexpr std::u16string_view numerals =
    u"〇○零一二两兩三四五六七八九十百千万萬亿億廿卅壹贰貳貮叁參叄肆伍陆陸柒捌玖拾佰仟";
constexpr std::u16string_view digits = u"0123456789０１２３４５６７８９";
constexpr std::u16string_view blanks = u"\u3000 \t\u00A0";  // the usual indent first

// Section words by their first two characters; 序 and 跋 stand alone.
constexpr std::u16string_view section_pairs[] = {
    u"完本", u"上架", u"作者", u"出版", u"重印", u"译者", u"譯者", u"译后", u"譯後",
    u"结束", u"結束", u"原序", u"代序", u"新序", u"自序", u"楔子", u"引子", u"引言",
    u"前言", u"尾声", u"尾聲", u"后记", u"後記", u"终章", u"終章", u"番外", u"外传",
    u"外傳", u"附录", u"附錄", u"释名", u"釋名", u"解说", u"解說"};

// Whether `s` holds `bytes` (one short character) at `at`: compared byte by
// byte, which beats a call to memcmp for a few bytes on every line.
bool holds_at(std::string_view s, std::size_t at, const std::string& bytes) {
  if (at + bytes.size() > s.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    if (s[at + i] != bytes[i]) return false;
  return true;
}

}  // namespace

shape_filter::shape_filter(const encoding& enc) : enc_(enc), rules_(enc) {
  // Each character's key; a one-byte character in an encoding keyed by
  // pairs marks every pair it begins (or ends).
  auto mark = [&](std::u16string_view set, std::bitset<65536>& bits, bool at_end) {
    for (char16_t c : set) {
      if (enc.layout == char_layout::utf8) {
        bits.set(c);
        continue;
      }
      const auto bytes = encode(utf8_of(c), enc);
      if (!bytes || bytes->empty()) continue;  // not in this encoding
      const std::string_view b = *bytes;
      if (b.size() == 1) {
        for (unsigned other = 0; other < 256; ++other)
          bits.set(at_end ? (other << 8 | static_cast<unsigned char>(b[0]))
                          : pair(b[0], static_cast<char>(other)));
      } else {
        bits.set(at_end ? pair(b[b.size() - 2], b[b.size() - 1]) : pair(b[0], b[1]));
      }
    }
  };
  mark(u"第卷序跋【[（(《◆◇■□●★☆※pPcC“\uFEFF", always_, false);
  mark(digits, always_, false);
  mark(numerals, numerals_, false);
  mark(numerals, after_numeral_, false);
  mark(blanks, after_numeral_, false);
  mark(u"、.．:：-—·‧・章回节節话話卷部集册冊篇】]）)", after_numeral_, false);
  for (std::u16string_view word : section_pairs) {
    mark(word.substr(0, 1), section_starts_, false);
    std::string utf8;
    for (char16_t c : word) utf8 += utf8_of(c);
    if (auto bytes = encode(utf8, enc)) sections_.push_back(std::move(*bytes));
  }
  mark(numerals, lasts_, true);
  mark(digits, lasts_, true);
  mark(u"序", lasts_, true);
  if (const auto di = encode("第", enc); di && di->size() >= 2 && enc.unit_size() == 1)
    probe_ = {static_cast<unsigned char>((*di)[0]), static_cast<unsigned char>((*di)[1])};
  if (const auto di = encode("第", enc)) di_ = *di;
  std::string wide_space;
  for (char16_t c : blanks) {
    auto bytes = encode(utf8_of(c), enc);
    if (!bytes || bytes->empty()) continue;
    blank_starts_.set(static_cast<unsigned char>(bytes->front()));
    blank_ends_.set(static_cast<unsigned char>(bytes->back()));
    if (c == u' ' || c == u'\u3000') separators_.push_back(*bytes);
    if (c == u'\u3000') wide_space = *bytes;
    if (c == u'\u00A0') nbsp_ = *bytes;
    blanks_.push_back(std::move(*bytes));
  }
  wide_space_ = wide_space;
  firsts_ = always_ | numerals_ | section_starts_;
}

#if defined(__SSE2__)
// The index's words of `words` * 64 bytes at `data`, for marks of at most
// `longest` bytes (the third byte is compared only where a mark has one).
template <std::size_t longest>
void index_words(const char* data, std::size_t words, const line_index::mark& di_mark,
                 const line_index::mark& wide_mark, const line_index::word_arrays& out) {
  // The bytes of a mark as vectors; a byte it does not have matches all.
  struct vectors {
    __m128i bytes[3], any[3], some;  // some: zeros when there is no mark
    explicit vectors(const line_index::mark& m) : some(m.size > 0 ? _mm_set1_epi8(-1) : _mm_setzero_si128()) {
      for (std::size_t i = 0; i < 3; ++i) {
        bytes[i] = _mm_set1_epi8(m.bytes[i]);
        any[i] = i < m.size ? _mm_setzero_si128() : _mm_set1_epi8(-1);
      }
    }
  };
  const vectors di(di_mark), wide(wide_mark);
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n'), space = _mm_set1_epi8(' '),
                tab = _mm_set1_epi8('\t'), lead = _mm_set1_epi8(wide_mark.bytes[0]);
  for (std::size_t w = 0; w < words; ++w) {
    line_index::word_bits got;
    for (unsigned k = 0; k < 4; ++k) {
      const char* const at = data + w * 64 + k * 16;
      __m128i b[longest];
      for (std::size_t i = 0; i < longest; ++i)
        b[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i));
      const auto matches = [&](const vectors& v) {
        __m128i all = _mm_and_si128(v.some, _mm_cmpeq_epi8(b[0], v.bytes[0]));
        for (std::size_t i = 1; i < longest; ++i)
          all = _mm_and_si128(all, _mm_or_si128(_mm_cmpeq_epi8(b[i], v.bytes[i]), v.any[i]));
        return all;
      };
      const auto bits = [&](__m128i m) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m))) << (16 * k);
      };
      const __m128i is_cr = _mm_cmpeq_epi8(b[0], cr), is_space = _mm_cmpeq_epi8(b[0], space);
      got.ends |= bits(_mm_or_si128(is_cr, _mm_cmpeq_epi8(b[0], lf)));
      got.cr |= bits(is_cr);
      got.di |= bits(matches(di));
      got.separators |= bits(_mm_or_si128(is_space, matches(wide)));
      got.narrow |= bits(_mm_or_si128(is_space, _mm_cmpeq_epi8(b[0], tab)));
      got.lead |= bits(_mm_and_si128(wide.some, _mm_cmpeq_epi8(b[0], lead)));
      got.high |= bits(b[0]);
    }
    out.put(w, got);
  }
}
#endif

#if defined(QUORREL_AVX2)
// The same, 32 bytes at a time, for marks of exactly `di_size` and
// `wide_size` bytes (0: none).
template <std::size_t di_size, std::size_t wide_size>
__attribute__((target("avx2"))) void index_words_avx2(const char* data, std::size_t words,
                                                      const line_index::mark& di_mark,
                                                      const line_index::mark& wide_mark,
                                                      const line_index::word_arrays& out) {
  constexpr std::size_t longest = std::max<std::size_t>({1, di_size, wide_size});
  __m256i di[3], wide[3];
  for (std::size_t i = 0; i < 3; ++i) {
    di[i] = _mm256_set1_epi8(di_mark.bytes[i]);
    wide[i] = _mm256_set1_epi8(wide_mark.bytes[i]);
  }
  const __m256i cr = _mm256_set1_epi8('\r'), lf = _mm256_set1_epi8('\n'), space = _mm256_set1_epi8(' '),
                tab = _mm256_set1_epi8('\t');
  for (std::size_t w = 0; w < words; ++w) {
    line_index::word_bits got;
    for (unsigned k = 0; k < 2; ++k) {
      const char* const at = data + w * 64 + k * 32;
      __m256i b[longest];
      for (std::size_t i = 0; i < longest; ++i)
        b[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + i));
      __m256i found_di = _mm256_setzero_si256(), found_wide = _mm256_setzero_si256(),
              found_lead = _mm256_setzero_si256();
      if constexpr (di_size > 0) {
        found_di = _mm256_cmpeq_epi8(b[0], di[0]);
        for (std::size_t i = 1; i < di_size; ++i)
          found_di = _mm256_and_si256(found_di, _mm256_cmpeq_epi8(b[i], di[i]));
      }
      if constexpr (wide_size > 0) {
        found_lead = found_wide = _mm256_cmpeq_epi8(b[0], wide[0]);
        for (std::size_t i = 1; i < wide_size; ++i)
          found_wide = _mm256_and_si256(found_wide, _mm256_cmpeq_epi8(b[i], wide[i]));
      }
      const auto bits = [k](int mask) {
        return static_cast<std::uint64_t>(static_cast<std::uint32_t>(mask)) << (32 * k);
      };
      const __m256i is_cr = _mm256_cmpeq_epi8(b[0], cr), is_space = _mm256_cmpeq_epi8(b[0], space);
      got.ends |= bits(_mm256_movemask_epi8(_mm256_or_si256(is_cr, _mm256_cmpeq_epi8(b[0], lf))));
      got.cr |= bits(_mm256_movemask_epi8(is_cr));
      got.di |= bits(_mm256_movemask_epi8(found_di));
      got.separators |= bits(_mm256_movemask_epi8(_mm256_or_si256(is_space, found_wide)));
      got.narrow |= bits(_mm256_movemask_epi8(_mm256_or_si256(is_space, _mm256_cmpeq_epi8(b[0], tab))));
      got.lead |= bits(_mm256_movemask_epi8(found_lead));
      got.high |= bits(_mm256_movemask_epi8(b[0]));
    }
    out.put(w, got);
  }
}
#endif

bool line_index::wide_lanes() {
#if defined(QUORREL_AVX2)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

line_index::mark::mark(const std::string& character) : size(character.size() <= 3 ? character.size() : 0) {
  for (std::size_t i = 0; i < size; ++i) bytes[i] = character[i];
  if (size == 0) return;
  unsigned char ones[4] = {};
  for (std::size_t i = 0; i < size; ++i) ones[i] = 0xFF;
  std::memcpy(&mask, ones, sizeof mask);
  std::memcpy(&word, bytes, 3);
  word &= mask;
}

line_index::line_index(const std::string& di, const std::string& wide_space)
    : any_di_(di.empty() || di.size() > 3), di_mark_(di), wide_(wide_space) {}

void line_index::build(std::string_view block, bool wide) {
  block_ = block;
  const std::size_t words = block.size() / 64 + 1;
  words_ = words;
  // A word of no bits after the last, for the lookups to read two at once.
  for (std::vector<std::uint64_t>* bits : {&ends_, &di_, &separators_, &cr_, &narrow_, &lead_, &high_}) {
    if (bits->size() < words + 1) bits->resize(words + 1);
    (*bits)[words] = 0;
  }
  const word_arrays out{ends_.data(),   di_.data(),   separators_.data(), cr_.data(),
                        narrow_.data(), lead_.data(), high_.data()};
  const char* const data = block.data();
#if defined(QUORREL_AVX2)
  if (wide) {
    const auto sizes = std::pair(di_mark_.size, wide_.size);
    auto* const kernel = sizes == std::pair<std::size_t, std::size_t>(2, 2)   ? index_words_avx2<2, 2>
                         : sizes == std::pair<std::size_t, std::size_t>(3, 3) ? index_words_avx2<3, 3>
                         : sizes == std::pair<std::size_t, std::size_t>(0, 0) ? index_words_avx2<0, 0>
                                                                              : nullptr;
    if (kernel) return kernel(data, words, di_mark_, wide_, out);
  }
#endif
  (void)wide;
#if defined(__SSE2__)
  if (di_mark_.size == 3 || wide_.size == 3) {
    index_words<3>(data, words, di_mark_, wide_, out);
  } else {
    index_words<2>(data, words, di_mark_, wide_, out);
  }
#else
  const auto matches = [](const char* at, const mark& m) {
    if (m.size == 0) return false;
    for (std::size_t i = 0; i < m.size; ++i)
      if (at[i] != m.bytes[i]) return false;
    return true;
  };
  for (std::size_t w = 0; w < words; ++w) {
    line_index::word_bits got;
    for (std::size_t i = 0; i < 64; ++i) {
      const char* const at = data + w * 64 + i;
      const std::uint64_t bit = std::uint64_t{1} << i;
      if (at[0] == '\r' || at[0] == '\n') got.ends |= bit;
      if (at[0] == '\r') got.cr |= bit;
      if (matches(at, di_mark_)) got.di |= bit;
      if (at[0] == ' ' || matches(at, wide_)) got.separators |= bit;
      if (at[0] == ' ' || at[0] == '\t') got.narrow |= bit;
      if (wide_.size > 0 && at[0] == wide_.bytes[0]) got.lead |= bit;
      if (static_cast<unsigned char>(at[0]) >= 0x80) got.high |= bit;
    }
    out.put(w, got);
  }
#endif
}

namespace {

std::size_t ones(std::uint64_t bits) { return static_cast<std::size_t>(__builtin_popcountll(bits)); }

// `a` + `b` + `carry`: the carry out.
[[gnu::always_inline]] inline bool add(std::uint64_t a, std::uint64_t b, bool carry, std::uint64_t& sum) {
  std::uint64_t partial;
  const bool first = __builtin_add_overflow(a, b, &partial);
  const bool second = __builtin_add_overflow(partial, static_cast<std::uint64_t>(carry), &sum);
  return first || second;
}

// Bits set in `bits` before byte `to`, with `before` counting whole words.
std::size_t count_below(const std::vector<std::uint64_t>& bits, const std::vector<std::uint32_t>& before,
                        std::size_t to) {
  const std::size_t w = to / 64, k = to % 64;
  return before[w] + (k == 0 ? 0 : ones(bits[w] & (~std::uint64_t{0} >> (64 - k))));
}

std::size_t last_set(const std::vector<std::uint64_t>& bits, std::size_t from, std::size_t to) {
  if (to <= from) return line_index::none;
  const std::size_t first = from / 64;
  std::size_t w = (to - 1) / 64;
  std::uint64_t word = bits[w] & (~std::uint64_t{0} >> (63 - (to - 1) % 64));
  for (;;) {
    if (w == first) word &= ~std::uint64_t{0} << (from % 64);
    if (word != 0) return w * 64 + 63 - static_cast<std::size_t>(__builtin_clzll(word));
    if (w == first) return line_index::none;
    word = bits[--w];
  }
}

// Bits of `a` an even number of places from the first of their run of
// ones (`before`: the word before; `carry` goes from word to word). Runs
// that start on an even bit are found by the carry that clears them.
[[gnu::always_inline]] inline std::uint64_t even_in_run(std::uint64_t a, std::uint64_t before, bool& carry) {
  constexpr std::uint64_t even = 0x5555555555555555;
  const std::uint64_t starts = a & ~(a << 1 | before >> 63);
  std::uint64_t cleared;
  carry = add(a, starts & even, carry, cleared);
  const std::uint64_t from_even = a & ~cleared;
  return (from_even & even) | (a & ~from_even & ~even);
}

}  // namespace

std::size_t line_index::lines_in(std::size_t from, std::size_t to) const {
  return count_below(line_ends_, ends_before_, to) - count_below(line_ends_, ends_before_, from);
}

std::size_t line_index::nonblank_in(std::size_t from, std::size_t to) const {
  return count_below(nonblank_, nonblank_before_, to) - count_below(nonblank_, nonblank_before_, from);
}

std::size_t line_index::next_attention(std::size_t from, std::size_t to) const {
  if (to <= from) return to;
  const std::size_t last = (to - 1) / 64;
  std::uint64_t word = attention_[from / 64] & (~std::uint64_t{0} << (from % 64));
  for (std::size_t w = from / 64;;) {
    if (word != 0) return std::min(to, w * 64 + static_cast<std::size_t>(__builtin_ctzll(word)));
    if (++w > last) return to;
    word = attention_[w];
  }
}

std::size_t line_index::last_end(std::size_t from, std::size_t to) const {
  return last_set(line_ends_, from, to);
}

std::size_t line_index::last_nonblank(std::size_t from, std::size_t to) const {
  return last_set(nonblank_, from, to);
}

// One pass over the index's words, each line told apart by its end E (a CR,
// or an LF after anything but a CR). Content is any byte the indent does
// not take (past_indent: spaces, tabs and whole U+3000s). Sums carry a bit
// from the bytes of a line to its end: nonblank + E collects each line
// holding content, starts + (bytes before content) lands on each line's
// first content byte. `kind` says how U+3000's bytes are found: 0 none, 1
// a mark whose first byte stands nowhere else in it (UTF-8, Big5), 2 two
// equal bytes (GB18030), paired from the start of each run of them.
template <int kind>
[[gnu::always_inline]] inline void shape_filter::attend_words(line_index& index) const {
  using word = std::uint64_t;
  const std::size_t words = index.words_;
  for (std::vector<word>* bits : {&index.line_ends_, &index.nonblank_, &index.attention_}) {
    if (bits->size() < words + 1) bits->resize(words + 1);
    (*bits)[words] = 0;
  }
  for (std::vector<std::uint32_t>* counts : {&index.ends_before_, &index.nonblank_before_})
    if (counts->size() < words + 1) counts->resize(words + 1);
  const char* const data = index.block_.data();
  const word* __restrict const crlfs = index.ends_.data();
  const word* __restrict const crs = index.cr_.data();
  const word* __restrict const narrows = index.narrow_.data();
  const word* __restrict const separators = index.separators_.data();
  const word* __restrict const dis = index.di_.data();
  const word* __restrict const marks = index.lead_.data();
  const word* __restrict const highs = index.high_.data();
  word* __restrict const line_ends = index.line_ends_.data();
  word* __restrict const nonblanks = index.nonblank_.data();
  word* __restrict const attention = index.attention_.data();
  std::uint32_t* __restrict const ends_before = index.ends_before_.data();
  std::uint32_t* __restrict const nonblank_before = index.nonblank_before_.data();
  const bool three = index.wide_.size == 3;
  // The word before's, and the carries out of it.
  word cr_before = 0, end_before = 0, wide_before = 0, high_before = 0, leads_before = 0;
  bool nonblank_carry = false, first_carry = false, attention_carry = false, high_carry = false;
  std::uint32_t lines = 0, nonblank_lines = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const word crlf = crlfs[w], cr = crs[w];
    const word ends = cr | (crlf & ~cr & ~(cr << 1 | cr_before >> 63));
    word wide = 0;  // bytes of U+3000s the indent would take
    word starts_character = ~word{0}, odd_lead = 0;
    if constexpr (kind == 1) {
      const word found = separators[w] & ~narrows[w];
      wide = found | found << 1 | wide_before >> 63;
      if (three) wide |= found << 2 | wide_before >> 62;
      wide_before = found;
    } else if constexpr (kind == 2) {
      // Characters of two bytes from 0x80 on: in each run of such bytes
      // every other one starts a character, from the run's first (the
      // byte after one under 0x80 starts one). So U+3000 is told from a
      // trail byte followed by its first byte.
      const word high = highs[w], next_high = highs[w + 1] << 63;
      const word leads = high & even_in_run(high, high_before, high_carry);
      starts_character = leads | (~high & ~(leads << 1 | leads_before >> 63));
      const word found = leads & marks[w] & (marks[w] >> 1 | marks[w + 1] << 63);
      wide = found | found << 1 | wide_before >> 63;
      // A first byte before a digit starts four bytes, which the pairs
      // above do not follow: its line is looked at.
      for (word bits = leads & ~(high >> 1 | next_high); bits != 0; bits &= bits - 1) {
        const char after = data[w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)) + 1];
        if (after >= '0' && after <= '9') odd_lead |= bits & -bits;
      }
      wide_before = found;
      high_before = high;
      leads_before = leads;
    }
    const word content = ~(narrows[w] | crlf | wide), not_end = ~ends;
    word sum;
    nonblank_carry = add(not_end, content, nonblank_carry, sum);
    const word nonblank = sum & ends;
    word starts = (ends << 1 | end_before >> 63) & not_end;
    if (w == 0) starts |= 1 & not_end;  // the block starts a line
    const word before_content = ~content & not_end;
    word past;
    first_carry = add(before_content, starts, first_carry, past);
    const word first = past & content, indent = before_content & ~past;
    // A line of fewer than four bytes from its first content byte is looked at.
    const word next_crlf = crlfs[w + 1];
    const word near_end =
        (crlf >> 1 | next_crlf << 63) | (crlf >> 2 | next_crlf << 62) | (crlf >> 3 | next_crlf << 61);
    word look = dis[w] | (separators[w] & starts_character & ~indent) | (first & near_end) | odd_lead;
    for (word bits = first & ~look; bits != 0; bits &= bits - 1) {
      const std::string_view s(data + w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits)), 8);
      if (may_open_shape(s)) look |= bits & -bits;
    }
    word look_end = 0;
    for (word bits = nonblank; bits != 0; bits &= bits - 1) {
      const std::size_t at = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
      if (at < 4) continue;  // a short line, looked at already
      if (may_close_shape(std::string_view(data + at - 4, 4))) look_end |= bits & -bits;
    }
    attention_carry = add(not_end, look, attention_carry, sum);
    line_ends[w] = ends;
    nonblanks[w] = nonblank;
    attention[w] = (sum | look_end) & ends;
    ends_before[w] = lines;
    nonblank_before[w] = nonblank_lines;
    lines += static_cast<std::uint32_t>(__builtin_popcountll(ends));
    nonblank_lines += static_cast<std::uint32_t>(__builtin_popcountll(nonblank));
    cr_before = cr;
    end_before = ends;
  }
  ends_before[words] = lines;
  nonblank_before[words] = nonblank_lines;
}

// The same pass with the processor's own popcount, where it has one.
template <int kind>
#if defined(QUORREL_AVX2)
__attribute__((target("popcnt,bmi,bmi2")))
#endif
void shape_filter::attend_words_popcnt(line_index& index) const {
  attend_words<kind>(index);
}

bool shape_filter::attend(line_index& index) const {
  const line_index::mark& wide = index.wide_;
  const bool runs = wide.size == 2 && wide.bytes[0] == wide.bytes[1];
  const bool once =
      wide.size >= 2 && wide.bytes[1] != wide.bytes[0] && (wide.size < 3 || wide.bytes[2] != wide.bytes[0]);
  if (index.any_di_ || (wide.size != 0 && !runs && !once)) return false;
#if defined(QUORREL_AVX2)
  static const bool popcnt =
      __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
#else
  constexpr bool popcnt = false;
#endif
  if (wide.size == 0) {
    popcnt ? attend_words_popcnt<0>(index) : attend_words<0>(index);
  } else if (once) {
    popcnt ? attend_words_popcnt<1>(index) : attend_words<1>(index);
  } else {
    popcnt ? attend_words_popcnt<2>(index) : attend_words<2>(index);
  }
  return true;
}

std::optional<line_index> shape_filter::index() const {
  if (enc_.unit_size() != 1) return std::nullopt;
  return line_index(di_, wide_space_);
}

line_scan shape_filter::scan(std::string_view text) const {
  line_end end = rules_.find_end(text, probe_);
  if (enc_.unit_size() != 1) return {end};
  const std::string_view line = text.substr(0, end.length);
  end.holds_probe = di_.empty() || line.find(di_) != std::string_view::npos;
  const std::size_t indent = rules_.blank_length(line);
  std::uint64_t ahead = 0;
  for (const std::string& blank : separators_)
    for (std::size_t k = 0; k < 64 && indent + k < line.size(); ++k)
      if (holds_at(line, indent + k, blank)) ahead |= std::uint64_t{1} << k;
  return {end, indent, ahead};
}

line_look shape_filter::look(std::string_view text) const {
  const line_scan scanned = scan(text);
  const std::string_view line = text.substr(0, scanned.end.length);
  const bool blank =
      scanned.indent != line_scan::unknown ? scanned.indent == line.size() : rules_.is_blank(line);
  return {line.size(), scanned.end.terminator, blank, !blank && may_be_shaped(line, scanned)};
}

std::string_view shape_filter::trim(std::string_view s) const {
  auto blank_at = [&](std::size_t at) -> std::size_t {
    for (const std::string& blank : blanks_)
      if (holds_at(s, at, blank)) return blank.size();
    return 0;
  };
  while (!s.empty() && blank_starts_[static_cast<unsigned char>(s.front())]) {
    const std::size_t size = blank_at(0);
    if (size == 0) break;
    s.remove_prefix(size);
  }
  while (!s.empty() && blank_ends_[static_cast<unsigned char>(s.back())]) {
    std::size_t size = 0;
    for (const std::string& blank : blanks_)
      if (s.size() >= blank.size() && holds_at(s, s.size() - blank.size(), blank)) size = blank.size();
    if (size == 0) break;
    s.remove_suffix(size);
  }
  return s;
}

bool shape_filter::starts_with_nbsp(std::string_view s) const {
  return !nbsp_.empty() && holds_at(s, 0, nbsp_);
}

bool shape_filter::ends_with_blank(std::string_view s) const {
  for (const std::string& blank : blanks_)
    if (s.size() >= blank.size() && holds_at(s, s.size() - blank.size(), blank)) return true;
  return false;
}

bool shape_filter::surely_body(std::string_view line, const line_scan& scan) const {
  const std::size_t lead = scan.indent;  // as trim() takes them; the rest is left to it
  if (lead == line_scan::unknown || scan.end.holds_probe || line.size() - lead < 2) return false;
  const std::string_view s = line.substr(lead);
  if (may_open_shape(s) || may_close_shape(s)) return false;
  return !separator_starts_character(s, scan.separators);
}

bool shape_filter::may_be_shaped(std::string_view line, const line_scan& scan) const {
  return !surely_body(line, scan) && looks_shaped(line, scan);
}

bool shape_filter::looks_shaped(std::string_view line, const line_scan& scan) const {
  const bool holds_probe = scan.end.holds_probe;
  const std::string_view s = trim(line);
  if (s.size() < 2) return !s.empty();
  const unsigned first = first_key(s);
  if (always_.test(first)) return true;
  if (numerals_.test(first)) {
    const std::size_t next = first_length(s);
    if (next + 1 >= s.size() || after_numeral_.test(first_key(s.substr(next)))) return true;
  }
  if (section_starts_.test(first)) {
    for (const std::string& word : sections_)
      if (holds_at(s, 0, word)) return true;
    const std::size_t next = first_length(s);
    for (const std::string& blank : blanks_)  // 尾 声
      if (holds_at(s, next, blank)) return true;
  }
  if (lasts_.test(last_key(s))) return true;
  if (holds_probe && s.find(di_) != std::string_view::npos)
    return true;  // the probe is only 第's first bytes
  // A space or U+3000 after a short prefix, before a section word (正文
  // 前言); two bytes across a character boundary are no blank.
  // Within 16 characters (heading_form's longest_section_prefix), at most
  // four bytes each.
  if (scan.indent != line_scan::unknown && static_cast<std::size_t>(s.data() - line.data()) == scan.indent)
    return separator_starts_character(s, scan.separators);
  const std::string_view near = s.substr(0, 64);
  // Each separator by its first byte (memchr), then the rest of it.
  for (const std::string& blank : separators_) {
    std::size_t walked = 0;
    for (std::size_t at = near.find(blank[0]); at != std::string_view::npos; at = near.find(blank[0], at + 1))
      if (holds_at(near, at, blank) && starts_character(near, at, walked)) return true;
  }
  return false;
}

std::size_t shape_filter::characters(std::string_view line, std::size_t most) const {
  if (line.size() > most * 4) return most + 1;  // no character takes more than four bytes
  std::size_t count = 0;
  for (std::size_t at = 0; at < line.size(); ++count) at += first_length(line.substr(at));
  return count;
}

}  // namespace quorrel

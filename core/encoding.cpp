#include "core/encoding.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>  // bad_alloc
#include <vector>

#include "core/icu_converter.h"
#include "core/utf8_skip.h"

namespace quorrel {
namespace {

using icu::converter_ptr;
using icu::open_converter;
using icu::throw_if_out_of_memory;

std::optional<std::u16string> utf8_to_utf16(std::string_view utf8) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), length + 1, nullptr, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  return out;
}

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// The layout of an ICU converter, when it is one the splitter can walk.
// Decided by the converter ICU actually opened, never by the name given:
// options and aliases ("Shift_JIS,locale=gbk") may mention a code page
// whose layout the converter does not have.
std::optional<char_layout> layout_of(UConverter* conv) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string_view canonical = ucnv_getName(conv, &status);
  if (U_FAILURE(status)) return std::nullopt;
  const auto named = [&](std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view p) { return canonical.starts_with(p); });
  };
  switch (ucnv_getType(conv)) {
    case UCNV_UTF8: return char_layout::utf8;
    case UCNV_UTF16_LittleEndian: return char_layout::utf16le;
    case UCNV_UTF16_BigEndian: return char_layout::utf16be;
    case UCNV_SBCS:
    case UCNV_LATIN_1:
    case UCNV_US_ASCII: return char_layout::single_byte;
    case UCNV_DBCS:
    case UCNV_MBCS:
      if (ucnv_getMaxCharSize(conv) == 1) return char_layout::single_byte;
      // GB18030, GBK (Windows 936) and GB2312 as EUC-CN (IBM 1383, 1386).
      if (named({"gb18030", "windows-936-", "ibm-1383_", "ibm-1386_"})) return char_layout::gb18030;
      // Big5 (Windows and IBM 950, IBM 1373) and Big5-HKSCS (IBM 1375).
      if (named({"windows-950-", "ibm-950_", "ibm-1373_", "ibm-1375_"})) return char_layout::big5;
      return std::nullopt;
    default: return std::nullopt;
  }
}

}  // namespace

std::optional<encoding> encoding_by_name(std::string_view name) {
  const std::string given(name);
  converter_ptr conv = open_converter(given);
  if (!conv) return std::nullopt;
  const auto layout = layout_of(conv.get());
  if (!layout) return std::nullopt;
  encoding enc{given, "", *layout};
  // Lines are cut at CR and LF and blanks found by their bytes: refuse an
  // encoding (EBCDIC, say) that writes them differently from ASCII.
  const auto controls = encode("\r\n \t", enc);
  const std::string ascii = "\r\n \t";
  std::string expected;
  for (char c : ascii) {
    if (enc.layout == char_layout::utf16be) expected += '\0';
    expected += c;
    if (enc.layout == char_layout::utf16le) expected += '\0';
  }
  if (!controls || *controls != expected) return std::nullopt;
  return enc;
}

namespace {

// Bounds of the second byte of a sequence led by `lead`, and how many
// continuation bytes follow; 0 for a byte that cannot lead.
struct lead_info {
  int continuations;
  unsigned char lower, upper;
};

lead_info lead(unsigned char c) {
  if (c >= 0xC2 && c <= 0xDF) return {1, 0x80, 0xBF};
  if (c == 0xE0) return {2, 0xA0, 0xBF};  // no overlong forms
  if (c == 0xED) return {2, 0x80, 0x9F};  // no surrogates
  if (c >= 0xE1 && c <= 0xEF) return {2, 0x80, 0xBF};
  if (c == 0xF0) return {3, 0x90, 0xBF};
  if (c >= 0xF1 && c <= 0xF3) return {3, 0x80, 0xBF};
  if (c == 0xF4) return {3, 0x80, 0x8F};  // nothing above U+10FFFF
  return {0, 0, 0};
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

void utf8_validator::fault(std::uint64_t at) {
  if (faults_++ == 0) first_fault_ = at;
}

// Bytes from 0xC0 up, eight at a time: a byte's top two bits both set give
// it a 1 in its lowest bit, and one multiplication adds the eight bytes up
// (a population count is a library call on processors without one).
void utf8_validator::count_characters(const unsigned char* p, const unsigned char* end) {
  constexpr std::uint64_t top_bits = 0x8080808080808080ULL, ones = 0x0101010101010101ULL;
  while (characters_ < characters_counted && end - p >= 8) {
    const unsigned char* const stop = p + std::min<std::ptrdiff_t>((end - p) / 8, 512) * 8;
    std::uint64_t found = 0;
    for (; p < stop; p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      found += ((word & (word << 1) & top_bits) >> 7) * ones >> 56;
    }
    characters_ += found;
  }
  for (; characters_ < characters_counted && p < end; ++p) characters_ += *p >= 0xC0;
}

bool utf8_validator::feed(std::string_view bytes) {
  if (!within_limit()) return false;
  const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* const end = begin + bytes.size();
  const auto* p = begin;
  count_characters(begin, end);
  // A sequence begun at the end of the previous block.
  while (pending_ > 0 && p < end) {
    if (*p < lower_ || *p > upper_) {
      fault(pending_from_);
      pending_ = 0;
      break;
    }
    ++p;
    lower_ = 0x80;
    upper_ = 0xBF;
    --pending_;
  }
  while (within_limit() && p < end) {
    p = skip_valid_utf8(p, end);
    // What the fast path leaves: runs of ASCII, eight bytes at a time...
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if (word & 0x8080808080808080ULL) break;
      p += 8;
    }
    // ...and of the three-byte characters that make up Chinese text.
    while (end - p >= 3 && p[0] >= 0xE1 && p[0] <= 0xEC && continuation(p[1]) && continuation(p[2])) p += 3;
    if (p == end) break;
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    const lead_info info = lead(c);
    const auto at = fed_ + static_cast<std::uint64_t>(p - begin);
    if (info.continuations == 0) {
      fault(at);
      ++p;
      continue;
    }
    int fit = 0;  // continuation bytes in their bounds
    while (fit < info.continuations && p + 1 + fit < end && p[1 + fit] >= (fit == 0 ? info.lower : 0x80) &&
           p[1 + fit] <= (fit == 0 ? info.upper : 0xBF))
      ++fit;
    if (fit == info.continuations) {
      p += 1 + fit;
    } else if (p + 1 + fit == end) {
      // Cut by the end of the block: the rest comes with the next one.
      pending_ = info.continuations - fit;
      pending_from_ = at;
      lower_ = fit == 0 ? info.lower : 0x80;
      upper_ = fit == 0 ? info.upper : 0xBF;
      p = end;
    } else {
      fault(at);
      p += 1 + fit;
    }
  }
  fed_ += bytes.size();
  return within_limit();
}

bool utf8_validator::finish() {
  if (pending_ > 0) {
    fault(pending_from_);
    pending_ = 0;
  }
  return within_limit();
}

std::optional<encoding> encoding_from_bom(std::string_view head) {
  if (head.starts_with("\xEF\xBB\xBF")) return encoding{"UTF-8", "\xEF\xBB\xBF", char_layout::utf8};
  if (head.starts_with("\xFF\xFE")) return encoding{"UTF-16LE", "\xFF\xFE", char_layout::utf16le};
  if (head.starts_with("\xFE\xFF")) return encoding{"UTF-16BE", "\xFE\xFF", char_layout::utf16be};
  return std::nullopt;
}

// UTF-16 without a mark shows in its line ends: CR and LF are a byte of 0D
// or 0A beside a zero byte, on the side the byte order says. Chinese text in
// UTF-16 has 0A and 0D bytes inside its characters too (上 is U+4E0A), but
// always in the low byte, so on the line ends' side of each pair; a byte of
// 0A or 0D on the other side means the text is not UTF-16 in that order.
// GBK and UTF-8 text has a zero byte beside a line end only by accident,
// and its line ends fall on both sides, so it is never taken for UTF-16.
std::optional<encoding> encoding_from_line_ends(std::string_view head) {
  const std::size_t pairs = head.size() / 2;
  std::size_t little_ends = 0, big_ends = 0;
  bool little = true, big = true;
  for (std::size_t i = 0; i < pairs && (little || big); ++i) {
    const char low = head[2 * i], high = head[2 * i + 1];
    const bool low_end = low == '\n' || low == '\r', high_end = high == '\n' || high == '\r';
    if (high_end) little = false;
    if (low_end) big = false;
    if (low_end && high == '\0') ++little_ends;
    if (high_end && low == '\0') ++big_ends;
  }
  if ((!little || little_ends == 0) && (!big || big_ends == 0)) return std::nullopt;
  // UTF-8 text with stray NUL bytes can line up the same way; Chinese text
  // in UTF-16 is never valid UTF-8.
  utf8_validator utf8;
  const bool non_ascii = std::any_of(head.begin(), head.end(), [](char c) { return (c & 0x80) != 0; });
  if (non_ascii && utf8.feed(head) && utf8.finish()) return std::nullopt;
  if (little && little_ends > 0) return encoding{"UTF-16LE", "", char_layout::utf16le};
  if (big && big_ends > 0) return encoding{"UTF-16BE", "", char_layout::utf16be};
  return std::nullopt;
}

encoding detect_encoding(std::string_view head, bool utf8) {
  if (auto marked = encoding_from_bom(head)) return *marked;
  if (auto by_line_ends = encoding_from_line_ends(head)) return *by_line_ends;
  if (utf8) return {"UTF-8", "", char_layout::utf8};

  const encoding gb{"GB18030", "", char_layout::gb18030};
  // ICU's detector is confident (100) on Big5 text of a kilobyte or so and
  // names GBK text GB18030; short texts get no useful answer, and must stay
  // GB18030, the common case for Chinese novels. It spends a few hundred
  // instructions a byte: a longer sample only costs time.
  constexpr std::size_t sample_limit = 16 * 1024;
  constexpr int32_t big5_confidence = 80;
  const std::string_view sample = head.substr(0, sample_limit);
  UErrorCode status = U_ZERO_ERROR;
  UCharsetDetector* detector = ucsdet_open(&status);
  if (U_FAILURE(status)) return gb;
  ucsdet_setText(detector, sample.data(), static_cast<int32_t>(sample.size()), &status);
  const UCharsetMatch* match = ucsdet_detect(detector, &status);
  bool big5 = false;
  if (U_SUCCESS(status) && match) {
    const char* name = ucsdet_getName(match, &status);
    const int32_t confidence = ucsdet_getConfidence(match, &status);
    big5 = U_SUCCESS(status) && name && lower(name) == "big5" && confidence >= big5_confidence;
  }
  ucsdet_close(detector);
  return big5 ? encoding{"Big5", "", char_layout::big5} : gb;
}

std::optional<std::string> encode(std::string_view utf8, const encoding& enc) {
  const auto utf16 = utf8_to_utf16(utf8);
  if (!utf16) return std::nullopt;
  converter_ptr conv = open_converter(enc.name);
  if (!conv) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  const auto length = static_cast<int32_t>(utf16->size());
  std::string out(
      static_cast<std::size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(length, ucnv_getMaxCharSize(conv.get()))), '\0');
  const int32_t written = ucnv_fromUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()),
                                          utf16->data(), length, &status);
  throw_if_out_of_memory(status);
  if (U_FAILURE(status)) return std::nullopt;
  out.resize(static_cast<std::size_t>(written));
  return out;
}

std::string decode(std::string_view bytes, const encoding& enc) {
  converter_ptr conv = open_converter(enc.name);
  if (!conv) return {};
  UErrorCode status = U_ZERO_ERROR;
  std::u16string utf16(bytes.size() + 1, u'\0');
  const int32_t units = ucnv_toUChars(conv.get(), utf16.data(), static_cast<int32_t>(utf16.size()),
                                      bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return {};
  std::string out(static_cast<std::size_t>(units) * 3 + 1, '\0');
  int32_t length = 0;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, utf16.data(), units, 0xFFFD,
                     nullptr, &status);
  if (U_FAILURE(status)) return {};
  out.resize(static_cast<std::size_t>(length));
  return out;
}

bool equal_ignoring_case(std::string_view given, std::string_view name) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::equal(given.begin(), given.end(), name.begin(), name.end(),
                    [&](char a, char b) { return lower(a) == lower(b); });
}

}  // namespace quorrel

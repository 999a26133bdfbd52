#include "core/convert.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>  // writing a replacement from a callback
#include <unicode/ustring.h>

#include <algorithm>
#include <bit>      // endian
#include <cstring>  // memcpy
#include <new>      // bad_alloc
#include <vector>

#include "core/char_table.h"
#include "core/icu_converter.h"

namespace quorrel {
namespace {

constexpr std::size_t held_bytes = 64 * 1024;     // input gathered before a call into ICU
constexpr std::size_t utf16_units = 64 * 1024;    // the pivot between the two converters
constexpr std::size_t output_bytes = 128 * 1024;  // converted bytes handed to the sink at once
constexpr std::size_t output_slack = 4;           // a table's character is copied whole, 4 bytes
constexpr std::ptrdiff_t icu_step = 4;            // bytes the table cannot take, handed to ICU at once
constexpr std::size_t check_block = 1 << 20;      // bytes of the source read at a time by the check

using icu::converter_ptr;
using icu::open_converter;

}  // namespace

std::optional<encoding> target_by_name(std::string_view name) {
  struct target {
    std::string_view name;
    const char* icu_name;
    const char* bom;
    char_layout layout;
  };
  static constexpr target targets[] = {
      {"UTF-8", "UTF-8", "", char_layout::utf8},
      {"UTF-8-BOM", "UTF-8", "\xEF\xBB\xBF", char_layout::utf8},
      {"UTF-8-SIG", "UTF-8", "\xEF\xBB\xBF", char_layout::utf8},
      {"GB18030", "GB18030", "", char_layout::gb18030},
      {"GBK", "GBK", "", char_layout::gb18030},
      {"Big5", "Big5", "", char_layout::big5},
      {"UTF-16LE", "UTF-16LE", "\xFF\xFE", char_layout::utf16le},
  };
  for (const target& t : targets)
    if (equal_ignoring_case(name, t.name)) return encoding{t.icu_name, t.bom, t.layout};
  return std::nullopt;
}

std::optional<std::string> decode_strict(std::string_view bytes, const encoding& enc) {
  converter_ptr conv = open_converter(enc.name);
  if (!conv) return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  std::u16string utf16(bytes.size() + 1, u'\0');
  const int32_t units = ucnv_toUChars(conv.get(), utf16.data(), static_cast<int32_t>(utf16.size()),
                                      bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  if (U_FAILURE(status)) return std::nullopt;
  std::string out(static_cast<std::size_t>(units) * 3 + 1, '\0');
  int32_t length = 0;
  u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &length, utf16.data(), units, &status);
  if (U_FAILURE(status)) return std::nullopt;  // a lone surrogate
  out.resize(static_cast<std::size_t>(length));
  return out;
}

struct text_converter::state {
  converter_ptr from, to;
  // Most characters come from here; ICU converts only what the table
  // lacks, and only between characters, when it holds nothing itself.
  std::shared_ptr<const char_table> table;
  // Only counting, into a target that holds every character: what is read
  // need not be written out again to find a loss.
  bool decode_only = false;
  bool count_lines = false;

  std::string held;
  std::vector<UChar> utf16;
  std::vector<char> output;
  std::size_t used = 0;  // bytes of `output` not yet handed to the sink

  std::uint64_t replaced = 0;
  // U+FFFD written for invalid input that the target cannot hold either:
  // already counted once, so its second failure is not counted again.
  std::uint64_t replacements_pending = 0;
  const UChar* block = nullptr;        // the UTF-16 being converted
  std::ptrdiff_t first_in_block = -1;  // unit of `block` where its first loss falls

  std::int64_t lines = 0;  // line ends passed
  bool after_cr = false;
  std::int64_t first_line = 0;

  void lost_at(std::ptrdiff_t unit) {
    ++replaced;
    if (first_in_block < 0 || unit < first_in_block) first_in_block = std::max<std::ptrdiff_t>(unit, 0);
  }
};

namespace {

// A callback is also told of resets and closes, which are no loss.
bool is_loss(UConverterCallbackReason reason) {
  return reason == UCNV_UNASSIGNED || reason == UCNV_ILLEGAL || reason == UCNV_IRREGULAR;
}

void lost_reading(const void* context, UConverterToUnicodeArgs* args, const char*, int32_t,
                  UConverterCallbackReason reason, UErrorCode* status) {
  if (!is_loss(reason)) return;
  auto& s = *static_cast<text_converter::state*>(const_cast<void*>(context));
  s.lost_at(args->target - s.block);
  ++s.replacements_pending;
  static constexpr UChar replacement = 0xFFFD;
  *status = U_ZERO_ERROR;
  ucnv_cbToUWriteUChars(args, &replacement, 1, 0, status);
}

void lost_writing(const void* context, UConverterFromUnicodeArgs* args, const UChar*, int32_t length,
                  UChar32 code_point, UConverterCallbackReason reason, UErrorCode* status) {
  if (!is_loss(reason)) return;
  auto& s = *static_cast<text_converter::state*>(const_cast<void*>(context));
  if (code_point == 0xFFFD && s.replacements_pending > 0) --s.replacements_pending;
  else s.lost_at(args->source - length - s.block);
  // ICU's own substitute callback drops a default-ignorable character (a
  // zero-width space, a soft hyphen) that the target lacks, writing
  // nothing: a character counted as replaced is always written replaced.
  *status = U_ZERO_ERROR;
  ucnv_cbFromUWriteSub(args, 0, status);
}

void check(UErrorCode status, std::uint64_t& replaced) {
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  if (U_FAILURE(status)) ++replaced;  // a loss is never passed over in silence
}

}  // namespace

text_converter::text_converter(const encoding& from, const encoding& to, sink out)
    : state_(std::make_unique<state>()), out_(std::move(out)) {
  state& s = *state_;
  s.from = open_converter(from.name);
  s.to = open_converter(to.name);
  if (!s.from || !s.to) throw std::bad_alloc();  // names come from encoding_by_name and target_by_name
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(s.from.get(), lost_reading, &s, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(s.to.get(), lost_writing, &s, nullptr, nullptr, &status);
  // U+FFFD where the target holds it, "?" where it does not (GBK, Big5).
  static constexpr UChar replacement[] = {0xFFFD};
  ucnv_setSubstString(s.to.get(), replacement, 1, &status);
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    ucnv_setSubstChars(s.to.get(), "?", 1, &status);
  }
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
  const bool holds_all = to.name == "UTF-8" || to.name == "UTF-16LE" || to.name == "GB18030";
  s.decode_only = !out_ && holds_all;
  s.count_lines = !out_;
  s.held.reserve(held_bytes);
  s.utf16.resize(utf16_units);
  s.output.resize(output_bytes + output_slack);
  s.table = char_table_for(from, to);
}

text_converter::~text_converter() = default;

void text_converter::write(std::string_view bytes) {
  std::string& held = state_->held;
  if (held.size() + bytes.size() > held_bytes) {
    if (!held.empty()) convert(held, false);
    held.clear();
    if (bytes.size() >= held_bytes) return convert(bytes, false);
  }
  held.append(bytes);
}

void text_converter::flush() {
  std::string& held = state_->held;
  if (held.empty()) return;
  convert(held, false);
  held.clear();
}

void text_converter::end() {
  convert(state_->held, true);
  state_->held.clear();
}

void text_converter::reset() {
  state& s = *state_;
  s.held.clear();
  ucnv_reset(s.from.get());
  ucnv_reset(s.to.get());
  s.replacements_pending = 0;
  s.used = 0;
}

std::uint64_t text_converter::replaced() const { return state_->replaced; }
std::int64_t text_converter::first_line() const { return state_->first_line; }

namespace {

// The table's index of the two bytes at `in`: first + second * 256, in one
// load.
std::uint16_t next_two(const unsigned char* in) {
  std::uint16_t two;
  std::memcpy(&two, in, sizeof two);
  if constexpr (std::endian::native == std::endian::big)
    two = static_cast<std::uint16_t>(two >> 8 | two << 8);
  return two;
}

// Converts from the table up to the first byte it has no character for (or
// a lead byte with its trail still to come), which it returns. Line ends
// are counted as ICU's path counts them. Everything the loop reads is held
// in locals: the bytes it writes could otherwise alias the table.
template <bool write, bool count_lines>
const char* convert_from_table(text_converter::state& s, const text_converter::sink& out, const char* from,
                               const char* const end) {
  const char_table::entry* const next = s.table->next.data();
  const auto* in = reinterpret_cast<const unsigned char*>(from);
  const auto* const in_end = reinterpret_cast<const unsigned char*>(end);
  char* const start = s.output.data();
  char* const full = start + output_bytes;
  char* at = start + s.used;
  std::int64_t lines = s.lines;
  bool after_cr = s.after_cr;
  // A pair is never a line end: only a single byte is counted.
  const auto take = [&](const char_table::entry& e, bool single_byte) {
    if constexpr (count_lines) {
      if (single_byte && (e.cr || (e.line_end && !after_cr))) ++lines;
      after_cr = single_byte && e.cr;
    }
    if constexpr (write) {
      std::memcpy(at, e.bytes, sizeof e.bytes);  // output_slack keeps the spare bytes inside
      at += e.size;
    }
  };
  for (bool blocked = false; !blocked;) {
    std::ptrdiff_t stretch = in_end - in - 1;  // where a lookup may start: it reads two bytes
    if (stretch <= 0) break;
    if constexpr (write) {
      if (full - at < 4) {
        out({start, static_cast<std::size_t>(at - start)});
        at = start;
      }
      stretch = std::min(stretch, (full - at) / 4);  // a byte in gives 4 bytes out at most
    }
    for (const unsigned char* const stop = in + stretch; in < stop;) {
      const char_table::entry& e = next[next_two(in)];
      // Two branches rather than `in += e.length`: predicted, they keep the
      // next lookup from waiting on this one.
      if (e.length == 2) {
        take(e, false);
        in += 2;
      } else if (e.length == 1) {
        take(e, true);
        ++in;
      } else {
        blocked = true;
        break;
      }
    }
  }
  if (in_end - in == 1 && s.table->single[*in].size != 0) take(s.table->single[*in++], true);
  if constexpr (write) s.used = static_cast<std::size_t>(at - start);
  if constexpr (count_lines) {
    s.lines = lines;
    s.after_cr = after_cr;
  }
  return reinterpret_cast<const char*>(in);
}

// ICU holds part of a character (a lead byte, a lead surrogate): the table
// may not go on until ICU has finished it.
bool icu_holds(const text_converter::state& s) {
  UErrorCode status = U_ZERO_ERROR;
  const bool reading = ucnv_toUCountPending(s.from.get(), &status) != 0;
  return reading || ucnv_fromUCountPending(s.to.get(), &status) != 0;
}

}  // namespace

void text_converter::convert(std::string_view bytes, bool last) {
  state& s = *state_;
  if (!s.table) {
    convert_through_icu(bytes, last);
    return flush_output();
  }
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  while (at < end) {
    if (!icu_holds(s)) {
      if (out_) at = convert_from_table<true, false>(s, out_, at, end);
      else if (s.count_lines && s.first_line == 0) at = convert_from_table<false, true>(s, out_, at, end);
      else at = convert_from_table<false, false>(s, out_, at, end);
      if (at == end) break;
    }
    // What the table lacks is rare (a four-byte character, an invalid
    // byte, a pair cut by the end of a block): ICU takes it a few bytes at a
    // time, with its own replacement and counting, until it holds nothing.
    const char* const upto = at + std::min(icu_step, end - at);
    convert_through_icu({at, static_cast<std::size_t>(upto - at)}, false);
    at = upto;
  }
  if (last) convert_through_icu({}, true);
  flush_output();
}

void text_converter::flush_output() {
  state& s = *state_;
  if (out_ && s.used > 0) out_({s.output.data(), s.used});
  s.used = 0;
}

void text_converter::convert_through_icu(std::string_view bytes, bool last) {
  state& s = *state_;
  const char* in = bytes.data();
  const char* const in_end = in + bytes.size();
  for (;;) {
    UChar* pivot = s.utf16.data();
    s.block = pivot;
    s.first_in_block = -1;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(s.from.get(), &pivot, s.utf16.data() + s.utf16.size(), &in, in_end, nullptr, last,
                   &status);
    const bool more = status == U_BUFFER_OVERFLOW_ERROR;
    if (!more) check(status, s.replaced);
    const UChar* const pivot_end = pivot;
    const bool flush = last && !more;
    for (const UChar* next = s.utf16.data(); !s.decode_only;) {
      char* out = s.output.data() + s.used;
      status = U_ZERO_ERROR;
      ucnv_fromUnicode(s.to.get(), &out, s.output.data() + s.output.size(), &next, pivot_end, nullptr, flush,
                       &status);
      s.used = static_cast<std::size_t>(out - s.output.data());
      const bool full = status == U_BUFFER_OVERFLOW_ERROR;
      if (!full) check(status, s.replaced);
      if (!full) break;
      flush_output();
    }
    if (!out_) s.used = 0;
    if (s.count_lines && s.first_line == 0) {
      // Line ends before the first loss: CR LF, CR or LF.
      const std::ptrdiff_t upto = s.first_in_block < 0 ? pivot_end - s.block : s.first_in_block;
      for (const UChar* u = s.block; u < s.block + upto; ++u) {
        if (*u == u'\r') ++s.lines;
        else if (*u == u'\n' && !s.after_cr) ++s.lines;
        s.after_cr = *u == u'\r';
      }
      if (s.first_in_block >= 0) s.first_line = s.lines + 1;
    }
    if (!more) return;
  }
}

bool check_conversion(const file::handle& source, const encoding& from, const encoding& to,
                      const std::function<bool()>& stop, conversion_loss& found, std::string& error) {
  text_converter counter(from, to, nullptr);
  std::vector<char> block(check_block);
  std::uint64_t at = from.bom.size();
  for (;;) {
    if (stop()) {
      error.clear();
      return false;
    }
    auto got = file::read_at(source, at, block);
    if (!got) {
      error = got.reason();
      return false;
    }
    if (*got == 0) break;
    counter.write({block.data(), *got});
    at += *got;
  }
  counter.end();
  found = {counter.replaced(), counter.first_line()};
  return true;
}

}  // namespace quorrel

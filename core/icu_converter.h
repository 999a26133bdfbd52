#pragma once
// An ICU converter owned by a handle, opened by name. ICU reports a failed
// allocation as a status: out of memory is not "no such encoding", so it goes
// on as std::bad_alloc. Used by the core's files that talk to ICU directly.

#include <unicode/ucnv.h>

#include <memory>
#include <new>  // bad_alloc
#include <string>
#include <string_view>
#include <vector>

namespace quorrel::icu {

struct converter_closer {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using converter_ptr = std::unique_ptr<UConverter, converter_closer>;

inline void throw_if_out_of_memory(UErrorCode status) {
  if (status == U_MEMORY_ALLOCATION_ERROR) throw std::bad_alloc();
}

// The converter ICU knows by `name`, or null.
inline converter_ptr open_converter(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  converter_ptr conv(ucnv_open(name.c_str(), &status));
  throw_if_out_of_memory(status);
  if (U_FAILURE(status)) return nullptr;
  return conv;
}

// `bytes` decoded into `out` (invalid sequences as U+FFFD); `out` only ever
// grows, and needs at most one code unit per byte, plus one.
inline std::u16string_view decode_into(UConverter* converter, std::string_view bytes,
                                       std::vector<char16_t>& out) {
  if (out.size() < bytes.size() + 1) out.resize(bytes.size() + 1);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length =
      ucnv_toUChars(converter, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                    bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status) && status != U_STRING_NOT_TERMINATED_WARNING) return {};
  return {out.data(), static_cast<std::size_t>(length)};
}

}  // namespace quorrel::icu

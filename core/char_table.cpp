#include "core/char_table.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>  // U16_IS_LEAD and friends

#include <map>
#include <mutex>
#include <new>  // bad_alloc
#include <string>
#include <utility>

#include "core/icu_converter.h"

namespace quorrel {
namespace {

using icu::converter_ptr;
using icu::throw_if_out_of_memory;

// A converter that stops at the first sequence it cannot convert, so that
// nothing ICU would replace gets an entry.
converter_ptr open_strict(const std::string& name) {
  converter_ptr conv = icu::open_converter(name);
  if (!conv) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(conv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  throw_if_out_of_memory(status);
  return U_SUCCESS(status) ? std::move(conv) : nullptr;
}

enum class read_as { character, lead, other };

// `bytes` read from a fresh state, as ICU reads them in the middle of a
// stream (not flushed): one whole character, the start of a longer one, or
// anything else (invalid, unmapped, more than one character).
read_as read_one(UConverter* from, const char* bytes, int size, UChar (&units)[4], int& count) {
  ucnv_resetToUnicode(from);
  UChar* target = units;
  const char* source = bytes;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_toUnicode(from, &target, units + 4, &source, bytes + size, nullptr, false, &status);
  throw_if_out_of_memory(status);
  count = static_cast<int>(target - units);
  if (U_FAILURE(status) || source != bytes + size) return read_as::other;
  const int32_t pending = ucnv_toUCountPending(from, &status);
  if (U_FAILURE(status) || pending < 0) return read_as::other;
  if (pending > 0) return count == 0 ? read_as::lead : read_as::other;
  const bool one = (count == 1 && !U16_IS_SURROGATE(units[0])) ||
                   (count == 2 && U16_IS_LEAD(units[0]) && U16_IS_TRAIL(units[1]));
  return one ? read_as::character : read_as::other;
}

// False when the target lacks the character (or needs more than 4 bytes).
bool write_one(UConverter* to, const UChar* units, int count, char_table::entry& e) {
  ucnv_resetFromUnicode(to);
  char* target = e.bytes;
  const UChar* source = units;
  UErrorCode status = U_ZERO_ERROR;
  ucnv_fromUnicode(to, &target, e.bytes + sizeof e.bytes, &source, units + count, nullptr, true, &status);
  throw_if_out_of_memory(status);
  if (U_FAILURE(status) || source != units + count || target == e.bytes) return false;
  e.size = static_cast<std::uint8_t>(target - e.bytes);
  e.cr = count == 1 && units[0] == u'\r';
  e.line_end = e.cr || (count == 1 && units[0] == u'\n');
  return true;
}

std::shared_ptr<const char_table> make_table(const encoding& from, const encoding& to) {
  converter_ptr reader = open_strict(from.name), writer = open_strict(to.name);
  if (!reader || !writer) return nullptr;
  auto table = std::make_shared<char_table>();
  table->next.assign(256 * 256, char_table::entry{});
  UChar units[4];
  int count = 0;
  for (std::size_t first = 0; first < 256; ++first) {
    const char byte = static_cast<char>(first);
    const auto at = [&](std::size_t second) -> char_table::entry& {
      return table->next[first + second * 256];
    };
    switch (read_one(reader.get(), &byte, 1, units, count)) {
      case read_as::character:
        if (write_one(writer.get(), units, count, table->single[first])) {
          table->single[first].length = 1;
          for (std::size_t second = 0; second < 256; ++second) at(second) = table->single[first];
        } else {
          table->single[first] = {};
        }
        break;
      case read_as::lead:
        for (std::size_t second = 0; second < 256; ++second) {
          const char bytes[2] = {byte, static_cast<char>(second)};
          // A line end of two bytes is left to ICU: the table counts lines
          // by single bytes only.
          if (read_one(reader.get(), bytes, 2, units, count) == read_as::character &&
              write_one(writer.get(), units, count, at(second)) && !at(second).line_end)
            at(second).length = 2;
          else at(second) = {};
        }
        break;
      case read_as::other: break;
    }
  }
  return table;
}

}  // namespace

std::shared_ptr<const char_table> char_table_for(const encoding& from, const encoding& to) {
  if (from.layout != char_layout::gb18030 && from.layout != char_layout::big5 &&
      from.layout != char_layout::single_byte)
    return nullptr;
  // A run converts with two converters (the check, then the pieces); the
  // table is made once for both.
  static std::mutex made_lock;
  static std::map<std::pair<std::string, std::string>, std::shared_ptr<const char_table>> made;
  std::lock_guard<std::mutex> hold(made_lock);
  std::shared_ptr<const char_table>& slot = made[{from.name, to.name}];
  if (!slot) slot = make_table(from, to);
  return slot;
}

}  // namespace quorrel

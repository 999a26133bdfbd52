#include "cli/console.h"

#include <cstdio>  // snprintf

namespace quorrel::cli {

bool is_c1_at(std::string_view utf8, std::size_t at) {
  return static_cast<unsigned char>(utf8[at]) == 0xC2 && at + 1 < utf8.size() &&
         static_cast<unsigned char>(utf8[at + 1]) >= 0x80 && static_cast<unsigned char>(utf8[at + 1]) < 0xA0;
}

std::string visible(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    const bool c1 = is_c1_at(utf8, i);
    if (byte >= 0x20 && byte != 0x7F && !c1) {
      out += utf8[i];
      continue;
    }
    const unsigned code = c1 ? static_cast<unsigned char>(utf8[++i]) : byte;
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", code);
    out += escaped;
  }
  return out;
}

}  // namespace quorrel::cli

#pragma once
// The platform's path separator, for every rule that names one: where the
// folder of a destination ends, the trailing separator of a folder. "\" on
// Windows, which takes "/" as well; "/" elsewhere.

#include <string_view>

namespace quorrel {

#ifdef _WIN32
inline constexpr char separator = '\\';
inline constexpr std::string_view separators = "\\/";
#else
inline constexpr char separator = '/';
inline constexpr std::string_view separators = "/";
#endif

constexpr bool is_separator(char c) { return separators.find(c) != std::string_view::npos; }

}  // namespace quorrel

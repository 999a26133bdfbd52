#pragma once
// The platform's path separator, for every rule that names one: where the
// folder of a destination ends, the trailing separator of a folder. "\" on
// Windows, which takes "/" as well; "/" elsewhere. And whether two names in
// one folder are the same: Windows' file systems ignore letter case.

#include <cstddef>
#include <string_view>

namespace quorrel {

#ifdef _WIN32
inline constexpr char separator = '\\';
inline constexpr std::string_view separators = "\\/";
inline constexpr bool names_ignore_case = true;
inline constexpr bool drive_letters = true;  // "C:name" is relative to drive C's own folder
#else
inline constexpr char separator = '/';
inline constexpr std::string_view separators = "/";
inline constexpr bool names_ignore_case = false;
inline constexpr bool drive_letters = false;
#endif

constexpr bool is_separator(char c) { return separators.find(c) != std::string_view::npos; }

// The folder that a destination prefix writes into: up to and with its last
// separator, or "." when it has none ("C:" for a Windows drive's own folder).
constexpr std::string_view folder_of(std::string_view destination) {
  const auto last = destination.find_last_of(separators);
  if (last != std::string_view::npos) return destination.substr(0, last + 1);
  if (drive_letters && destination.size() >= 2 && destination[1] == ':') return destination.substr(0, 2);
  return ".";
}

// Whether two file names (UTF-8) name the same file in one folder. Where
// case is ignored, only ASCII letters are folded: a name differing from a
// piece's in the case of another letter is missed here, and refused all the
// same when the piece is created (it is then the source itself).
constexpr bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto fold = [](char c) { return names_ignore_case && c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

}  // namespace quorrel

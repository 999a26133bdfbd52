#pragma once
// The platform's path separator, for every rule that names one: where the
// folder of a destination ends, the trailing separator of a folder. "\" on
// Windows, which takes "/" as well; "/" elsewhere. And whether two names in
// one folder are the same: Windows' file systems ignore letter case.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorrel {

#ifdef _WIN32
inline constexpr char separator = '\\';
inline constexpr std::string_view separators = "\\/";
inline constexpr bool names_ignore_case = true;
#else
inline constexpr char separator = '/';
inline constexpr std::string_view separators = "/";
inline constexpr bool names_ignore_case = false;
#endif

constexpr bool is_separator(char c) { return separators.find(c) != std::string_view::npos; }

// `folder` ending in exactly one separator, whatever it ended in: a run of
// them becomes the platform's one, so a root ("/", "D:\") stays itself and a
// folder's pieces go inside it. An empty folder gives the root.
inline std::string with_one_separator(std::string folder) {
  while (!folder.empty() && is_separator(folder.back())) folder.pop_back();
  folder += separator;
  return folder;
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

#pragma once
// The platform's path separator, for every rule that names one: where the
// folder of a destination ends, the trailing separator of a folder. "\" on
// Windows, which takes "/" as well; "/" elsewhere. And what a path cannot
// hold there.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorrel {

#ifdef _WIN32
inline constexpr char separator = '\\';
inline constexpr std::string_view separators = "\\/";
inline constexpr bool windows_names = true;
#else
inline constexpr char separator = '/';
inline constexpr std::string_view separators = "/";
inline constexpr bool windows_names = false;
#endif

constexpr bool is_separator(char c) { return separators.find(c) != std::string_view::npos; }

// The folder that a destination prefix writes into: up to and with its last
// separator, or "." when it has none (on Windows "C:" for "C:name", which is
// relative to drive C's own folder).
constexpr std::string_view folder_of(std::string_view destination) {
  const auto last = destination.find_last_of(separators);
  if (last != std::string_view::npos) return destination.substr(0, last + 1);
  if (windows_names && destination.size() >= 2 && destination[1] == ':') return destination.substr(0, 2);
  return ".";
}

// Where the first byte of `path` (UTF-8) sits that no file name can hold, or
// npos. Only Windows has such bytes: < > " | ? * and the control characters,
// which the system refuses as an invalid name, and a colon anywhere but after
// a drive letter, which NTFS would take as the name of a hidden stream of a
// file instead. The \\?\ and \\.\ prefixes are the system's own and pass.
constexpr std::size_t unnameable_at(std::string_view path, bool windows = windows_names) {
  if (!windows) return std::string_view::npos;
  std::size_t start = 0;
  if (path.starts_with("\\\\?\\") || path.starts_with("\\\\.\\")) start = 4;
  for (std::size_t i = start; i < path.size(); ++i) {
    const char c = path[i];
    const bool after_drive = i == start + 1 && ((path[start] >= 'A' && path[start] <= 'Z') ||
                                                (path[start] >= 'a' && path[start] <= 'z'));
    if ((c >= 0 && c < ' ') || std::string_view("<>\"|?*").find(c) != std::string_view::npos ||
        (c == ':' && !after_drive))
      return i;
  }
  return std::string_view::npos;
}

// `folder` ending in exactly one separator, whatever it ended in: a run of
// them becomes the platform's one, so a root ("/", "D:\") stays itself and a
// folder's pieces go inside it. An empty folder gives the root.
inline std::string with_one_separator(std::string folder) {
  while (!folder.empty() && is_separator(folder.back())) folder.pop_back();
  folder += separator;
  return folder;
}

}  // namespace quorrel

#include "platform/com_dlg.h"

#include <algorithm>
#include <filesystem>  // current_path, kept as the system's own path type
#include <system_error>

#include "core/path.h"

namespace modComDlg32 {

namespace {

using quorrel::platform::backend;

// Only spaces count as blank around a starting directory or a filter, as in
// the Windows program; a tab is text.
std::string_view trimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Typed paths may use "/" on Windows too. With the separator a file's path
// is no folder: "a.txt/" does not exist.
std::string startingDirectory(const std::string& given) {
  const std::string programFolder = backend().programFolder();
  if (trimSpaces(given).empty()) return programFolder;
  const std::string folder = quorrel::is_separator(given.back()) ? given : given + quorrel::separator;
  return backend().isFolder(folder) ? folder : programFolder;
}

}  // namespace

std::vector<quorrel::platform::FileFilter> FilterPairs(std::string_view filter) {
  if (trimSpaces(filter).empty()) filter = "*.*|*.*";
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  std::vector<quorrel::platform::FileFilter> pairs;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() || parts[i + 1].empty()) break;  // the end of the Windows list
    pairs.push_back({std::string(parts[i]), std::string(parts[i + 1])});
  }
  return pairs;
}

// Neither dialog keeps the current directory by itself (Qt's may move it, the
// system's ignores OFN_NOCHANGEDIR), so it is put back here.
std::string ShowOpenFile(owner_window owner, const std::string& title, std::string& startDir,
                         const std::string& filter, std::uint32_t flags) {
  startDir = startingDirectory(startDir);
  std::error_code unreadable;
  const std::filesystem::path before = std::filesystem::current_path(unreadable);
  std::string chosen = backend().openFile(owner, title, startDir, FilterPairs(filter));
  if ((flags & kNoChangeDir) && !unreadable) {
    std::error_code ignored;
    std::filesystem::current_path(before, ignored);
  }
  chosen.resize(std::min(chosen.size(), chosen.find('\0')));
  return chosen;
}

std::string BrowseFolder(const std::string& prompt, owner_window owner, std::int16_t rootCode) {
  const std::string folder = backend().chooseFolder(
      owner, prompt.empty() ? std::string("请选择文件夹:") : prompt, MapFolderRoot(rootCode));
  if (folder.empty()) return {};
  if ((BrowseFlags() & kReturnOnlyFsDirs) && !backend().isFolder(folder)) return {};
  return quorrel::with_one_separator(folder);
}

std::int32_t MapFolderRoot(std::int16_t rootCode) {
  if (rootCode < 2) return 0;
  if (rootCode <= 11) return rootCode;
  return std::int32_t{rootCode} + 4;
}

std::uint32_t BrowseFlags() { return kReturnOnlyFsDirs; }

}  // namespace modComDlg32

#include "platform/com_dlg_rules.h"

#include "core/path.h"
#include "platform/com_dlg.h"

namespace quorrel::platform {

std::string_view trimSpaces(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<FileFilter> filterPairs(std::string_view filter) {
  if (trimSpaces(filter).empty()) filter = "*.*|*.*";
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t bar = filter.find('|', start);
    parts.push_back(filter.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  std::vector<FileFilter> pairs;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() || parts[i + 1].empty()) break;  // the end of the Windows list
    pairs.push_back({std::string(parts[i]), std::string(parts[i + 1])});
  }
  return pairs;
}

std::string startingDirectory(const std::string& given, const std::string& programFolder,
                              bool (*isFolder)(const std::string& path)) {
  if (trimSpaces(given).empty()) return programFolder;
  // Typed paths may use "/" on Windows too. With the separator a file's path
  // is no folder: "a.txt/" does not exist.
  const std::string folder =
      is_separator(given.back()) ? given : given + quorrel::separator;
  return isFolder(folder) ? folder : programFolder;
}

std::string shownPrompt(const std::string& prompt) {
  return prompt.empty() ? std::string("请选择文件夹:") : prompt;
}

}  // namespace quorrel::platform

namespace modComDlg32 {

std::int32_t MapFolderRoot(std::int16_t rootCode) {
  if (rootCode < 2) return 0;
  if (rootCode <= 11) return rootCode;
  return std::int32_t{rootCode} + 4;
}

std::uint32_t BrowseFlags() { return kReturnOnlyFsDirs; }

}  // namespace modComDlg32

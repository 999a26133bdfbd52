#pragma once
// The rules modComDlg32's dialogs follow on every system, without a toolkit:
// the starting directory, the filter list and the prompt. com_dlg.cpp (Qt)
// and com_dlg_win32.cpp turn their results into each dialog's own terms.

#include <string>
#include <string_view>
#include <vector>

namespace quorrel::platform {

// One entry of the open-file dialog's filter list: "Text" and "*.txt;*.log".
struct FileFilter {
  std::string text;
  std::string patterns;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

// The pairs of a "|"-separated filter, the first one selected: empty or only
// spaces gives "*.*" for every file; the list ends at an empty part, and a
// text without a pattern is dropped.
std::vector<FileFilter> filterPairs(std::string_view filter);

// Only spaces count as blank around a starting directory or a filter, as in
// the Windows program; a tab is text.
std::string_view trimSpaces(std::string_view text);

// Where the open-file dialog starts: `programFolder` for an empty or blank
// `given`, else `given` ending in a separator when that names an existing
// folder (asked through `isFolder`), else `programFolder`.
std::string startingDirectory(const std::string& given, const std::string& programFolder,
                              bool (*isFolder)(const std::string& path));

// The folder picker's prompt: "请选择文件夹:" for an empty one.
std::string shownPrompt(const std::string& prompt);

}  // namespace quorrel::platform

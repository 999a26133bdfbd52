// modComDlg32 on Windows: the system's own open-file dialog
// (GetOpenFileNameW) and folder picker (SHBrowseForFolderW), wide calls only.

#include "platform/com_dlg.h"

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cwchar>
#include <memory>

#include "core/win32_text.h"
#include "platform/com_dlg_rules.h"
#include "platform/win32_support.h"

namespace modComDlg32 {

namespace {

using quorrel::narrow;
using quorrel::widen;
using quorrel::platform::isFolder;

// The longest path Windows knows (the \\?\ form), in UTF-16 code units with
// its NUL: no answer of a dialog is cut at MAX_PATH.
constexpr std::size_t kLongestPath = 32768;

struct PidlFree {
  void operator()(ITEMIDLIST* pidl) const { CoTaskMemFree(pidl); }
};
using Pidl = std::unique_ptr<ITEMIDLIST, PidlFree>;

// The folder of the running program, without a trailing separator.
std::string programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);  // cut short: the path is longer
  }
  return narrow(path.substr(0, path.find_last_of(L"\\/")));
}

// The text up to the first NUL of a buffer the system filled.
std::wstring untilNul(const std::wstring& buffer) { return buffer.substr(0, std::wcslen(buffer.c_str())); }

// The file-system path of a shell item, "" for a virtual one (the computer,
// the control panel). SHGetPathFromIDListEx (Vista and later) takes a buffer
// of any size; SHGetPathFromIDListW before it assumes MAX_PATH.
std::wstring pathOf(const ITEMIDLIST* pidl) {
  using PathFromIdListEx = BOOL(WINAPI*)(const ITEMIDLIST*, PWSTR, DWORD, GPFIDL_FLAGS);
  const auto longForm = reinterpret_cast<PathFromIdListEx>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetPathFromIDListEx")));
  if (longForm) {
    std::wstring path(kLongestPath, L'\0');
    if (!longForm(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)) return {};
    return untilNul(path);
  }
  std::wstring path(MAX_PATH, L'\0');
  if (!SHGetPathFromIDListW(pidl, path.data())) return {};
  return untilNul(path);
}

// The process's current directory, "" when it cannot be read.
std::wstring currentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return {};
  std::wstring path(size, L'\0');
  path.resize(GetCurrentDirectoryW(static_cast<DWORD>(path.size()), path.data()));
  return path;
}

}  // namespace

// The flags go to the dialog as given; without OFN_FILEMUSTEXIST a typed name
// is accepted. The system's dialog ignores OFN_NOCHANGEDIR, so the current
// directory is put back here.
std::string ShowOpenFile(owner_window owner, const std::string& title, std::string& startDir,
                         const std::string& filter, std::uint32_t flags) {
  startDir = quorrel::platform::startingDirectory(startDir, programFolder(), isFolder);
  const std::wstring wideTitle = widen(title);
  const std::wstring initialDir = widen(startDir);
  const std::wstring filters = quorrel::platform::openFileFilter(filter);
  std::wstring file(kLongestPath, L'\0');

  OPENFILENAMEW dialog =
      quorrel::platform::openFileDialog(static_cast<HWND>(owner), wideTitle, initialDir, filters, file, flags);
  const std::wstring before = currentDirectory();
  const bool chosen = GetOpenFileNameW(&dialog);  // false: cancelled, or CommDlgExtendedError
  if ((flags & kNoChangeDir) && !before.empty()) SetCurrentDirectoryW(before.c_str());
  return chosen ? narrow(untilNul(file)) : std::string();
}

// A root code naming no folder on this system starts at the desktop, the
// whole namespace, as code 0 does.
std::string BrowseFolder(const std::string& prompt, owner_window owner, std::int16_t rootCode) {
  const quorrel::platform::ComApartment com;
  const HWND window = static_cast<HWND>(owner);
  ITEMIDLIST* found = nullptr;
  Pidl root;
  if (SUCCEEDED(SHGetSpecialFolderLocation(window, MapFolderRoot(rootCode), &found)))
    root.reset(found);

  const std::wstring shown = widen(quorrel::platform::shownPrompt(prompt));
  // The chosen item's display name, which the picker always writes: MAX_PATH
  // by its contract, and not the path.
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW picker{};
  picker.hwndOwner = window;
  picker.pidlRoot = root.get();
  picker.pszDisplayName = displayName;
  picker.lpszTitle = shown.c_str();
  picker.ulFlags = BrowseFlags();
  const Pidl chosen(SHBrowseForFolderW(&picker));
  if (!chosen) return {};

  std::wstring folder = pathOf(chosen.get());
  if (folder.empty()) return {};
  if (folder.back() != L'\\') folder += L'\\';  // a root ("C:\") has its one already
  const std::string result = narrow(folder);
  return isFolder(result) ? result : std::string();
}

}  // namespace modComDlg32

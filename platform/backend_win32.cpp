// The desktop backend on Windows: the system's own message box, open-file
// dialog (GetOpenFileNameW), folder picker (SHBrowseForFolderW) and shell
// open, wide calls only.

#include <windows.h>
// After windows.h, which they build on.
#include <commdlg.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include "core/win32_support.h"
#include "platform/backend.h"
#include "platform/backend_win32.h"
#include "platform/com_dlg.h"

namespace quorrel::platform {

// The numbers the wrappers hand on are the system's own.
static_assert(modComDlg32::kLongNames == OFN_LONGNAMES);
static_assert(modComDlg32::kNoChangeDir == OFN_NOCHANGEDIR);
static_assert(modComDlg32::kReturnOnlyFsDirs == BIF_RETURNONLYFSDIRS);
static_assert(CSIDL_DESKTOP == 0 && CSIDL_PROGRAMS == 2 && CSIDL_PERSONAL == 5 &&
              CSIDL_DESKTOPDIRECTORY == 16);

namespace {

// The longest path Windows knows (the \\?\ form), in UTF-16 code units with
// its NUL: no answer of a dialog is cut at MAX_PATH.
constexpr std::size_t kLongestPath = 32768;

using win32::narrow;
using win32::system_path;
using win32::widen;

// The file-system path of a shell item, "" for a virtual one (the computer,
// the control panel). SHGetPathFromIDListEx (Vista and later) takes a buffer
// of any size; SHGetPathFromIDListW before it assumes MAX_PATH.
std::wstring pathOf(const ITEMIDLIST* pidl) {
  using PathFromIdListEx = BOOL(WINAPI*)(const ITEMIDLIST*, PWSTR, DWORD, GPFIDL_FLAGS);
  const auto longForm = reinterpret_cast<PathFromIdListEx>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"shell32.dll"), "SHGetPathFromIDListEx")));
  std::wstring path(longForm ? kLongestPath : MAX_PATH, L'\0');
  const BOOL found = longForm ? longForm(pidl, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT)
                              : SHGetPathFromIDListW(pidl, path.data());
  return found ? path.c_str() : std::wstring();
}

class Win32Backend final : public Backend {
 public:
  void showMessage(owner_window owner, const std::string& text) override {
    MessageBoxW(static_cast<HWND>(owner), widen(text).c_str(), L"Quorrel", MB_OK | MB_ICONINFORMATION);
  }

  // Without OFN_FILEMUSTEXIST a typed name is accepted. The buffer comes back
  // whole: the caller keeps what comes before its first NUL.
  std::string openFile(owner_window owner, const std::string& title, const std::string& startDir,
                       const std::vector<FileFilter>& filters) override {
    const std::wstring wideTitle = widen(title);
    const std::wstring initialDir = widen(startDir);
    const std::wstring list = openFileFilter(filters);
    std::wstring file(kLongestPath, L'\0');

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = static_cast<HWND>(owner);
    dialog.lpstrFilter = list.empty() ? nullptr : list.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = initialDir.c_str();
    dialog.lpstrTitle = wideTitle.empty() ? nullptr : wideTitle.c_str();  // the system's "打开"
    dialog.lpstrDefExt = L"";
    dialog.Flags = modComDlg32::kLongNames | modComDlg32::kNoChangeDir;
    // false: cancelled, or CommDlgExtendedError
    return GetOpenFileNameW(&dialog) ? narrow(file) : std::string();
  }

  // A special folder this system does not have starts at the desktop, the
  // whole namespace, as code 0 does.
  std::string chooseFolder(owner_window owner, const std::string& prompt, std::int32_t csidl) override {
    const win32::com_apartment com;
    const HWND window = static_cast<HWND>(owner);
    ITEMIDLIST* found = nullptr;
    win32::unique_pidl root;
    if (SUCCEEDED(SHGetSpecialFolderLocation(window, csidl, &found))) root.reset(found);

    const std::wstring shown = widen(prompt);
    // The chosen item's display name, which the picker always writes: MAX_PATH
    // by its contract, and not the path.
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW picker{};
    picker.hwndOwner = window;
    picker.pidlRoot = root.get();
    picker.pszDisplayName = displayName;
    picker.lpszTitle = shown.c_str();
    picker.ulFlags = modComDlg32::BrowseFlags();
    const win32::unique_pidl chosen(SHBrowseForFolderW(&picker));
    return chosen ? narrow(pathOf(chosen.get())) : std::string();
  }

  // ShellExecuteW shows no error of its own; a value above 32 is success.
  bool openDocument(owner_window owner, const std::string& target, std::string& errorText) override {
    const win32::com_apartment com;  // the shell's handlers may be COM objects
    const std::wstring wide = widen(target);
    SetLastError(ERROR_SUCCESS);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(static_cast<HWND>(owner), L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return true;
    const DWORD error = GetLastError();
    errorText = win32::system_message(error != ERROR_SUCCESS ? error : static_cast<DWORD>(result));
    return false;
  }

  // RtlGetVersion reports the version the system runs; GetVersionExW reports
  // an older one to a program whose manifest does not name the system.
  OsVersion osVersion() override {
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto rtlGetVersion = reinterpret_cast<GetVersion>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!rtlGetVersion || rtlGetVersion(&version) != 0) return {};
    return {version.dwPlatformId == VER_PLATFORM_WIN32_NT, static_cast<int>(version.dwMajorVersion)};
  }

  std::string programFolder() override {
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
    const std::size_t last = path.find_last_of(L"\\/");
    return narrow(path.substr(0, last == std::wstring::npos ? 0 : last));
  }

  // Asks for the right to add a file on the folder itself, so nothing is
  // written to find out (the manifest runs the program without file-system
  // virtualisation, so a protected folder such as Program Files answers no).
  bool mayWriteTo(const std::string& folder) override {
    const HANDLE opened = CreateFileW(system_path(folder).c_str(), FILE_ADD_FILE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    const win32::unique_kernel owned(opened);
    return true;
  }

  // The profile folder when there are no documents.
  std::string documentsFolder() override {
    for (const KNOWNFOLDERID& known : {FOLDERID_Documents, FOLDERID_Profile}) {
      wchar_t* path = nullptr;
      const HRESULT result = SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &path);
      const win32::unique_task_text owned(path);
      if (SUCCEEDED(result) && path) return narrow(path);
    }
    return {};
  }

  bool isFolder(const std::string& path) override {
    const DWORD attributes = GetFileAttributesW(system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
};

}  // namespace

std::wstring openFileFilter(const std::vector<FileFilter>& filters) {
  std::wstring list;
  for (const FileFilter& pair : filters) {
    list += widen(pair.text);
    list += L'\0';
    list += widen(pair.patterns);
    list += L'\0';
  }
  if (!list.empty()) list += L'\0';
  return list;
}

Backend& systemBackend() {
  static Win32Backend instance;
  return instance;
}

}  // namespace quorrel::platform

// quorrel.exe [FILE]: the window, with FILE (if given) as the source file.

#include <windows.h>
#include <commctrl.h>  // InitCommonControlsEx
#include <knownfolders.h>
#include <shellapi.h>  // CommandLineToArgvW
#include <shlobj.h>    // SHGetKnownFolderPath

#include <string>

#include "core/path.h"
#include "core/win32_text.h"
#include "ui/form.h"
#include "ui/win32/handles.h"
#include "ui/win32/main_window.h"

namespace {

using quorrel::narrow;
using quorrel::win32::unique_argv;
using quorrel::win32::unique_co_string;
using quorrel::win32::unique_file;

// The folder that holds quorrel.exe, without a final separator (but for a
// drive's root, "C:" then).
std::wstring programFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  path.resize(path.find_last_of(L"\\/") == std::wstring::npos ? 0 : path.find_last_of(L"\\/"));
  return path;
}

// Whether the user may create files in `folder`: asks for the right to add a
// file on the folder itself, so nothing is written to find out (the
// manifest runs the program without file-system virtualisation, so a
// protected folder such as Program Files answers no).
bool mayWriteTo(const std::wstring& folder) {
  HANDLE opened = CreateFileW(folder.c_str(), FILE_ADD_FILE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  const unique_file owned(opened);
  return true;
}

// The user's documents folder, else the profile folder.
std::wstring documentsFolder() {
  for (const KNOWNFOLDERID& known : {FOLDERID_Documents, FOLDERID_Profile}) {
    wchar_t* path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(known, KF_FLAG_DEFAULT, nullptr, &path);
    const unique_co_string owned(path);
    if (SUCCEEDED(result) && path) return path;
  }
  return {};
}

// The file named on the command line (an "Open with" or a file dropped on
// the program's icon), made absolute; "" without one.
std::string sourceArgument() {
  int count = 0;
  const unique_argv arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!arguments || count < 2 || arguments.get()[1][0] == L'\0') return {};
  const wchar_t* given = arguments.get()[1];
  std::wstring full(GetFullPathNameW(given, 0, nullptr, nullptr), L'\0');
  if (full.empty()) return narrow(given);
  full.resize(GetFullPathNameW(given, static_cast<DWORD>(full.size()), full.data(), nullptr));
  return narrow(full);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const quorrel::win32::com_apartment com;  // the shell's dialogs and screen readers
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  const std::wstring folder = programFolder();
  const quorrel::ui::start_folders folders{narrow(folder), mayWriteTo(folder),
                                           narrow(documentsFolder()), quorrel::separator};
  frmSave window(instance, folders, sourceArgument());
  if (!window.isOpen()) return 1;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.preTranslate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

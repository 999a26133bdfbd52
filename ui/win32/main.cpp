// quorrel.exe [FILE]: the window, with FILE (if given) as the source file.

#include <windows.h>
#include <commctrl.h>  // InitCommonControlsEx
#include <shellapi.h>  // CommandLineToArgvW

#include <string>

#include "core/win32_text.h"
#include "platform/win32_support.h"
#include "ui/form.h"
#include "ui/win32/handles.h"
#include "ui/win32/main_window.h"

namespace {

using quorrel::narrow;
using quorrel::win32::unique_argv;

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
  const quorrel::platform::ComApartment com;
  const quorrel::platform::ScopedBackend desktop(quorrel::platform::systemBackend());
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  frmSave window(instance, quorrel::ui::start_folders::of_desktop(), sourceArgument());
  if (!window.isOpen()) return 1;

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.preTranslate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

// quorrel.exe [FILE]: the window, with FILE (if given) as the source file.

// windows.h first: commctrl.h needs its types (a block of its own, which
// the formatter does not sort).
#include <windows.h>

#include <commctrl.h>  // InitCommonControlsEx

#include <string>
#include <vector>

#include "core/win32_support.h"
#include "platform/backend.h"
#include "ui/form.h"
#include "ui/win32/main_window.h"

namespace {

namespace win32 = quorrel::win32;

// The file named on the command line (an "Open with" or a file dropped on
// the program's icon), made absolute; "" without one.
std::string sourceArgument() {
  const std::vector<std::string> arguments = win32::command_line_arguments();
  if (arguments.empty() || arguments[0].empty()) return {};
  return win32::narrow(win32::full_path(win32::widen(arguments[0])));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const win32::com_apartment com;
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

// window_probe: reads the running window frmSave for the end-to-end test,
// which drives it with real input (xdotool) and needs to see what it shows.
//   window_probe where NAME   screen position of the middle of control NAME
//   window_probe size NAME    its width and height in pixels
//   window_probe state NAME   "checked" or "cleared" (a check box), then
//                             "greyed" when the control is disabled
//   window_probe text NAME    the control's text (UTF-8)
//   window_probe focus        the name of the control with the focus
//   window_probe typed        the text of the control with the focus, in
//                             frmSave or in a dialog it opened
//   window_probe dialog       title, then each text line, of the window
//                             frmSave owns (a message box or a dialog)
// Exit status 1 when the window (or the control, or the dialog) is not there.

#include <windows.h>

#include <string>
#include <string_view>

#include "core/win32_support.h"
#include "ui/layout.h"

namespace {

namespace layout = quorrel::ui::layout;

void print(const std::string& utf8) {
  const std::string line = utf8 + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// WM_GETTEXT, not GetWindowTextW: that gives another program's controls'
// text only as they were created, not as the user typed it.
std::string textOf(HWND window) {
  const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return quorrel::win32::narrow(text);
}

// The control's number in frmSave: 100 + its place in the table.
HWND controlNamed(HWND main, std::string_view name) {
  for (const layout::control& c : layout::controls)
    if (c.name == name) return GetDlgItem(main, 100 + static_cast<int>(c.which));
  return nullptr;
}

HWND ownedBy(HWND main) {
  struct search {
    HWND owner, found;
  } s{main, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* s = reinterpret_cast<search*>(data);
        if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != s->owner) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&s));
  return s.found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  HWND main = FindWindowW(L"frmSave", nullptr);
  if (!main || argc < 2) return 1;
  const std::wstring command = argv[1];
  if (command == L"dialog") {
    HWND dialog = ownedBy(main);
    if (!dialog) return 1;
    print(textOf(dialog));
    EnumChildWindows(
        dialog,
        [](HWND child, LPARAM) -> BOOL {
          wchar_t kind[32] = {};
          GetClassNameW(child, kind, 32);
          if (lstrcmpiW(kind, L"Static") == 0 && IsWindowVisible(child) && !textOf(child).empty())
            print(textOf(child));
          return TRUE;
        },
        0);
    return 0;
  }
  if (command == L"focus" || command == L"typed") {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) || !info.hwndFocus) return 1;
    if (command == L"typed") {
      print(textOf(info.hwndFocus));
      return 0;
    }
    for (const layout::control& c : layout::controls)
      if (GetDlgCtrlID(info.hwndFocus) == 100 + static_cast<int>(c.which)) print(std::string(c.name));
    return 0;
  }
  if (argc < 3) return 1;
  HWND control = controlNamed(main, quorrel::win32::narrow(argv[2]));
  if (!control) return 1;
  if (command == L"text") {
    print(textOf(control));
    return 0;
  }
  if (command == L"state") {
    const bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    print(std::string(checked ? "checked" : "cleared") + (IsWindowEnabled(control) ? "" : " greyed"));
    return 0;
  }
  RECT r{};
  GetWindowRect(control, &r);
  if (command == L"where") {
    print(std::to_string((r.left + r.right) / 2) + " " + std::to_string((r.top + r.bottom) / 2));
    return 0;
  }
  if (command == L"size") {
    print(std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
    return 0;
  }
  return 1;
}

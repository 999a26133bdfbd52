#include "ui/win32/main_window.h"

#include <commctrl.h>
#include <initguid.h>  // defines the accessibility GUIDs below here, not in a library
#include <oleacc.h>    // CLSID_AccPropServices, PROPID_ACC_NAME
#include <shellapi.h>  // DragAcceptFiles, DragQueryFileW

#include <initializer_list>
#include <string_view>
#include <utility>

#include "core/win32_support.h"
#include "ui/win32/resource.h"

namespace {

namespace layout = quorrel::ui::layout;
using layout::id;
using quorrel::win32::narrow;
using quorrel::win32::widen;

constexpr wchar_t kWindowClass[] = L"frmSave";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;  // fixed size, close only
// The accessibility calls take OBJID_CLIENT, a LONG of -4, as a DWORD: the same 32 bits.
constexpr DWORD kClientObject = static_cast<DWORD>(OBJID_CLIENT);

std::string windowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return narrow(text);
}

bool fontInstalled(const wchar_t* face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(wanted.lfFaceName, face, LF_FACESIZE - 1);
  bool found = false;
  const quorrel::win32::screen_dc dc;
  EnumFontFamiliesExW(
      dc.get(), &wanted,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM seen) -> int {
        *reinterpret_cast<bool*>(seen) = true;
        return 0;  // one is enough
      },
      reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

// The system's UI font at 9 pt for `dpi`, in a Chinese UI face where the
// system has one: its default face may draw Chinese only through font
// linking, with glyphs of another size than the layout was drawn for.
quorrel::win32::unique_font windowFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi));
  LOGFONTW font = metrics.lfMessageFont;
  static const std::wstring face = [&] {
    for (const wchar_t* chinese : {L"Microsoft YaHei UI", L"Microsoft YaHei", L"SimSun"})
      if (fontInstalled(chinese)) return std::wstring(chinese);
    return std::wstring(font.lfFaceName);
  }();
  wcsncpy(font.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  font.lfHeight = -MulDiv(layout::font_points, dpi, 72);
  font.lfWidth = 0;
  return quorrel::win32::unique_font(CreateFontIndirectW(&font));
}

quorrel::win32::unique_icon programIcon(HINSTANCE instance, int metric, int dpi) {
  const int size = GetSystemMetricsForDpi(metric, static_cast<UINT>(dpi));
  return quorrel::win32::unique_icon(static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUORREL), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

RECT scaled(const layout::rect& twips, int dpi) {
  const int left = layout::pixels(twips.left, dpi);
  const int top = layout::pixels(twips.top, dpi);
  return {left, top, left + layout::pixels(twips.width, dpi), top + layout::pixels(twips.height, dpi)};
}

// The window's outer size for the client area of the table at `dpi`.
SIZE windowSize(int dpi) {
  RECT frame{0, 0, layout::pixels(layout::client_width, dpi), layout::pixels(layout::client_height, dpi)};
  AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi));
  return {frame.right - frame.left, frame.bottom - frame.top};
}

RECT primaryWorkArea() {
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
  return info.rcWork;
}

}  // namespace

frmSave::frmSave(HINSTANCE instance, const quorrel::ui::start_folders& folders, const std::string& sourceFile)
    : m_instance(instance), m_sourceFile(sourceFile), m_form(*this, folders) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);

  m_hand.reset(static_cast<HCURSOR>(
      LoadImageW(instance, MAKEINTRESOURCEW(IDC_HAND_POINTER), IMAGE_CURSOR, 0, 0, LR_DEFAULTCOLOR)));

  // Made on the primary monitor, so its dpi is the one the window starts at.
  const RECT work = primaryWorkArea();
  CreateWindowExW(0, kWindowClass, widen(layout::title).c_str(), kWindowStyle, work.left, work.top, 0, 0,
                  nullptr, nullptr, instance, this);
  if (!m_window) return;
  m_dpi = static_cast<int>(GetDpiForWindow(m_window));
  createControls();
  applyDpi();
  Form_Load();

  const SIZE size = windowSize(m_dpi);
  SetWindowPos(m_window, nullptr, work.left + (work.right - work.left - size.cx) / 2,
               work.top + (work.bottom - work.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(m_window, SW_SHOWNORMAL);
  focusControl(control(id::Command1));
}

frmSave::~frmSave() {
  if (m_window) DestroyWindow(m_window);
}

bool frmSave::preTranslate(MSG& message) {
  if (!m_window) return false;
  // The dialog manager takes a plain letter typed on a control that wants
  // no characters (a button) for an access key, so "s" alone would split.
  // Access keys are Alt+letter only (WM_SYSCHAR): a plain character goes to
  // its control as it is, which ignores it.
  if (message.message == WM_CHAR && IsChild(m_window, message.hwnd) &&
      !(SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam, reinterpret_cast<LPARAM>(&message)) &
        (DLGC_WANTCHARS | DLGC_WANTMESSAGE | DLGC_WANTALLKEYS)))
    return false;
  return IsDialogMessageW(m_window, &message);
}

// Moves the focus to `target` as the dialog manager does on Tab: a push
// button with the focus is the default one, so Enter presses it as Space
// does, and the one that had the focus is a plain button again.
void frmSave::focusControl(HWND target) {
  const HWND before = GetFocus();
  const auto dialogCode = [](HWND control) { return SendMessageW(control, WM_GETDLGCODE, 0, 0); };
  if (before != target && IsChild(m_window, before) && (dialogCode(before) & DLGC_DEFPUSHBUTTON))
    SendMessageW(before, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
  if (dialogCode(target) & DLGC_UNDEFPUSHBUTTON) SendMessageW(target, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  SetFocus(target);
}

LRESULT CALLBACK frmSave::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<frmSave*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<frmSave*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->handle(message, wParam, lParam);
}

LRESULT frmSave::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: Form_Command(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == control(id::Label1) && m_hand) {
        SetCursor(m_hand.get());
        return TRUE;
      }
      break;
    case WM_ACTIVATE: Form_Activate(LOWORD(wParam) != WA_INACTIVE); return 0;
    case WM_DROPFILES: Form_DropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_DPICHANGED: Form_DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_CLOSE: Form_Close(); return 0;
    case WM_QUERYENDSESSION: return Form_QueryEndSession() ? TRUE : FALSE;
    case WM_ENDSESSION: Form_EndSession(wParam != FALSE); return 0;
    case WM_DESTROY:
      if (m_accessibility)
        for (HWND c : m_controls)
          m_accessibility->ClearHwndProps(c, kClientObject, CHILDID_SELF, &PROPID_ACC_NAME, 1);
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      const HWND window = std::exchange(m_window, nullptr);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    }
    default: break;
  }
  return DefWindowProcW(m_window, message, wParam, lParam);
}

// In the table's order, which is the tab order: the dialog manager moves the
// focus through the controls in the order they were made.
void frmSave::createControls() {
  for (const layout::control& c : layout::controls) {
    const wchar_t* windowClass = WC_STATICW;
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    switch (c.kind) {
      case layout::kind::label:
        style |= SS_LEFT | SS_NOPREFIX | (c.which == id::Label1 ? SS_NOTIFY : 0);  // Label1 is clicked
        break;
      case layout::kind::button:
        windowClass = WC_BUTTONW;
        style |= WS_TABSTOP | BS_PUSHBUTTON;  // never the default button
        break;
      case layout::kind::check_box:
        windowClass = WC_BUTTONW;
        style |= WS_TABSTOP | BS_AUTOCHECKBOX;  // starts cleared
        break;
      case layout::kind::text_box:
        windowClass = WC_EDITW;
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case layout::kind::list_box:
        windowClass = WC_LISTBOXW;
        // Unsorted, one selection, exactly as tall as drawn.
        style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    }
    HWND made = CreateWindowExW(exStyle, windowClass, widen(c.caption).c_str(), style, 0, 0, 0, 0, m_window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(c.which))), m_instance,
                                nullptr);
    m_controls[static_cast<std::size_t>(c.which)] = made;
    if (c.kind == layout::kind::text_box) SendMessageW(made, EM_SETLIMITTEXT, 0, 0);  // no limit
  }
  // Screen readers name a box by the label just before it in z-order:
  // Label4 goes before the list (labels take no focus, so the tab order
  // stays as drawn).
  SetWindowPos(control(id::Label4), control(id::cmdSaveFolder), 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  nameForScreenReaders();
  DragAcceptFiles(m_window, TRUE);
}

// The Browse buttons and the link say what they do, which their captions do
// not; set as annotations, so a screen reader reads them as the control's
// name. Nothing else depends on them: without the service they are skipped.
void frmSave::nameForScreenReaders() {
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(&services))))
    return;
  m_accessibility.reset(services);
  for (const layout::control& c : layout::controls)
    if (!c.accessible_name.empty())
      services->SetHwndPropStr(control(c.which), kClientObject, CHILDID_SELF, PROPID_ACC_NAME,
                               widen(c.accessible_name).c_str());
}

// The controls take the new font and the window the new icons before the
// old ones are freed: a control never draws with a deleted font.
void frmSave::applyDpi() {
  quorrel::win32::unique_font font = windowFont(m_dpi);
  quorrel::win32::unique_icon bigIcon = programIcon(m_instance, SM_CXICON, m_dpi);
  quorrel::win32::unique_icon smallIcon = programIcon(m_instance, SM_CXSMICON, m_dpi);
  SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
  SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.get()));
  for (HWND made : m_controls) SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
  m_font = std::move(font);
  m_bigIcon = std::move(bigIcon);
  m_smallIcon = std::move(smallIcon);

  for (const layout::control& c : layout::controls) {
    HWND made = control(c.which);
    const RECT r = scaled(c.rect, m_dpi);
    SetWindowPos(made, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    if (c.kind == layout::kind::label) sizeLabel(made);
  }
  InvalidateRect(m_window, nullptr, TRUE);
}

// A label is as large as its caption in the window's font; its left and top
// edges stay.
void frmSave::sizeLabel(HWND label) {
  const std::wstring caption = widen(windowText(label));
  const quorrel::win32::screen_dc dc;
  const quorrel::win32::selection font(dc.get(), m_font.get());
  RECT extent{};
  DrawTextW(dc.get(), caption.c_str(), static_cast<int>(caption.size()), &extent,
            DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  SetWindowPos(label, nullptr, 0, 0, extent.right, extent.bottom, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void frmSave::Form_Load() { m_form.load(m_sourceFile); }

void frmSave::Command1_Click() { m_form.split_clicked(); }

void frmSave::cmdAdd_Click() { m_form.add_clicked(); }

void frmSave::cmdDelete_Click() { m_form.delete_clicked(); }

void frmSave::chkByForm_Click() { m_form.option_clicked(); }

void frmSave::chkTitleNames_Click() { m_form.option_clicked(); }

void frmSave::cmdOrigleFile_Click() { m_form.browse_source_clicked(); }

void frmSave::cmdSaveFolder_Click() { m_form.browse_destination_clicked(); }

void frmSave::cmdWeb_Click() { m_form.shop_clicked(); }

void frmSave::Label1_Click() { cmdWeb_Click(); }

void frmSave::Form_Command(int controlNumber, int code) {
  const auto is = [&](id which) { return controlNumber == controlId(which); };
  if (is(id::Label1)) {
    if (code == STN_CLICKED) Label1_Click();
    return;
  }
  if (code != BN_CLICKED) return;
  if (is(id::Command1)) Command1_Click();
  else if (is(id::cmdAdd)) cmdAdd_Click();
  else if (is(id::cmdDelete)) cmdDelete_Click();
  else if (is(id::chkByForm)) chkByForm_Click();
  else if (is(id::chkTitleNames)) chkTitleNames_Click();
  else if (is(id::cmdOrigleFile)) cmdOrigleFile_Click();
  else if (is(id::cmdSaveFolder)) cmdSaveFolder_Click();
  else if (is(id::cmdWeb)) cmdWeb_Click();
}

// A close during a split cannot tear the window down under the running
// handler: the form remembers it, the split stops at its next line, and the
// window closes once the run has returned (close_window).
void frmSave::Form_Close() {
  if (m_form.close_asked()) DestroyWindow(m_window);
}

// A sign-out: the form decides (ui/form.h); a window that waited for its
// outcome is destroyed before the program ends.
bool frmSave::Form_QueryEndSession() { return m_form.session_end_asked(); }

void frmSave::Form_EndSession(bool ending) {
  if (m_form.session_ended(ending)) DestroyWindow(m_window);
}

// The first of the dropped files: a file is the source, a folder the
// destination.
void frmSave::Form_DropFiles(HDROP drop) {
  const quorrel::win32::unique_drop owned(drop);
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  if (length == 0) return;
  std::wstring path(length + 1, L'\0');
  path.resize(DragQueryFileW(drop, 0, path.data(), length + 1));
  const DWORD attributes = GetFileAttributesW(path.c_str());
  m_form.dropped(narrow(path),
                 attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));
}

void frmSave::Form_DpiChanged(int dpi, const RECT& suggested) {
  m_dpi = dpi;
  applyDpi();
  const SIZE size = windowSize(m_dpi);
  SetWindowPos(m_window, nullptr, suggested.left, suggested.top, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// The focus comes back to the control that had it (after a message box or
// another program), as in a dialog.
void frmSave::Form_Activate(bool active) {
  if (!active) {
    m_focus = GetFocus();
    return;
  }
  focusControl(m_focus && IsChild(m_window, m_focus) ? m_focus : control(id::Command1));
}

HWND frmSave::boxOf(box which) const {
  switch (which) {
    case box::source: return control(id::txtFrom);
    case box::destination: return control(id::txtTo);
    case box::keyword: break;
  }
  return control(id::txtKey);
}

std::string frmSave::text(box which) { return windowText(boxOf(which)); }

void frmSave::set_text(box which, const std::string& text) {
  SetWindowTextW(boxOf(which), widen(text).c_str());
}

HWND frmSave::checkBoxOf(option which) const {
  return control(which == option::by_form ? id::chkByForm : id::chkTitleNames);
}

bool frmSave::ticked(option which) {
  return SendMessageW(checkBoxOf(which), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void frmSave::set_ticked(option which, bool ticked) {
  SendMessageW(checkBoxOf(which), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

// The system draws the greyed state, in high contrast too.
void frmSave::enable_keywords(bool enabled) {
  for (const id keywords : {id::lstKey, id::txtKey, id::cmdAdd, id::cmdDelete})
    EnableWindow(control(keywords), enabled ? TRUE : FALSE);
}

int frmSave::key_count() { return static_cast<int>(SendMessageW(control(id::lstKey), LB_GETCOUNT, 0, 0)); }

std::string frmSave::key(int index) {
  HWND list = control(id::lstKey);
  const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == LB_ERR) return {};
  std::wstring item(static_cast<std::size_t>(length) + 1, L'\0');
  item.resize(static_cast<std::size_t>(
      SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()))));
  return narrow(item);
}

void frmSave::add_key(const std::string& key) {
  SendMessageW(control(id::lstKey), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(key).c_str()));
}

void frmSave::remove_key(int index) {
  SendMessageW(control(id::lstKey), LB_DELETESTRING, static_cast<WPARAM>(index), 0);
}

void frmSave::clear_keys() { SendMessageW(control(id::lstKey), LB_RESETCONTENT, 0, 0); }

int frmSave::selected_key() {
  const LRESULT selected = SendMessageW(control(id::lstKey), LB_GETCURSEL, 0, 0);
  return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

void frmSave::clear_key_selection() {
  SendMessageW(control(id::lstKey), LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

// The label grows or shrinks with its caption, and is drawn at once: the
// area it covered before is repainted too, so no old text is left behind.
void frmSave::set_caption(const std::string& caption) {
  HWND label = control(id::Label1);
  RECT before{};
  GetWindowRect(label, &before);
  MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&before), 2);
  SetWindowTextW(label, widen(caption).c_str());
  sizeLabel(label);
  RECT after{};
  GetWindowRect(label, &after);
  MapWindowPoints(nullptr, m_window, reinterpret_cast<POINT*>(&after), 2);
  RECT both{};
  UnionRect(&both, &before, &after);
  RedrawWindow(m_window, &both, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

// Everything pending, as the main loop would handle it, then back to the
// run. A WM_QUIT met here is put back for the main loop.
void frmSave::process_events() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (preTranslate(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Posted, not done here: the form calls this from inside a handler.
void frmSave::close_window() {
  if (m_window) PostMessageW(m_window, WM_CLOSE, 0, 0);
}

void frmSave::hide_window() {
  if (m_window) ShowWindow(m_window, SW_HIDE);
}

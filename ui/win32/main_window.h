#pragma once
// frmSave on Windows: the program's one window, drawn with the system's own
// controls (no Qt exists for our Windows build). It is a view of
// quorrel::ui::form (ui/form.h), which holds what the window does; this
// creates the controls from the table in ui/layout.h, implements form_view
// over them and forwards each event to the form.
//
// The names of the window class, the controls and the handlers (frmSave,
// txtFrom, Command1, cmdAdd_Click, Form_Load, ...) are the ones the program's
// users and its documentation know, so they are kept exactly, though they
// follow no convention of this code.
//
// Sizes follow the monitor's dpi (15 twips a pixel at 96 dpi) and are laid
// out again when the window moves to a monitor of another dpi. The window
// lives until it is destroyed (the user closes it, or a split that was asked
// to close ends); its destruction posts WM_QUIT. Everything runs on the
// thread that created it.

#include <oleacc.h>  // IAccPropServices
#include <windows.h>

#include <array>
#include <string>

#include "core/win32_support.h"
#include "ui/form.h"
#include "ui/layout.h"

class frmSave final : private quorrel::ui::form_view {
 public:
  // Creates the window, runs Form_Load and shows it centred on the primary
  // monitor with the focus on Command1. sourceFile (UTF-8) goes into txtFrom
  // when not empty.
  frmSave(HINSTANCE instance, const quorrel::ui::start_folders& folders, const std::string& sourceFile);
  ~frmSave() override;
  frmSave(const frmSave&) = delete;
  frmSave& operator=(const frmSave&) = delete;

  // False when the window could not be made.
  bool isOpen() const { return m_window != nullptr; }

  // The window's keyboard handling (Tab, Alt+S, arrows) for a message taken
  // from the queue: true when it was handled and must not be dispatched.
  bool preTranslate(MSG& message);

  // The controls' numbers: 100 + the place in the table, clear of IDOK and
  // IDCANCEL, which Enter and Escape send and nothing handles.
  static int controlId(quorrel::ui::layout::id which) { return 100 + static_cast<int>(which); }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

  // The form's events.
  void Form_Load();
  void Command1_Click();
  void cmdAdd_Click();
  void cmdDelete_Click();
  void chkByForm_Click();
  void chkTitleNames_Click();
  void cmdOrigleFile_Click();
  void cmdSaveFolder_Click();
  void cmdWeb_Click();
  void Label1_Click();
  // The window's own events.
  void Form_Command(int id, int code);
  void Form_Close();
  void Form_DropFiles(HDROP drop);
  void Form_DpiChanged(int dpi, const RECT& suggested);
  void Form_Activate(bool active);
  bool Form_QueryEndSession();
  void Form_EndSession(bool ending);

  void focusControl(HWND target);
  void createControls();
  void applyDpi();  // font, icons, control rectangles and window size at m_dpi
  void sizeLabel(HWND label);
  HWND control(quorrel::ui::layout::id which) const { return m_controls[static_cast<std::size_t>(which)]; }
  HWND boxOf(box which) const;
  HWND checkBoxOf(option which) const;
  void nameForScreenReaders();

  // form_view
  std::string text(box which) override;
  void set_text(box which, const std::string& text) override;
  bool ticked(option which) override;
  void set_ticked(option which, bool ticked) override;
  void enable_keywords(bool enabled) override;
  int key_count() override;
  std::string key(int index) override;
  void add_key(const std::string& key) override;
  void remove_key(int index) override;
  void clear_keys() override;
  int selected_key() override;
  void clear_key_selection() override;
  void set_caption(const std::string& caption) override;
  void process_events() override;
  void close_window() override;
  void hide_window() override;
  void* native_window() override { return m_window; }

  HINSTANCE m_instance;
  HWND m_window = nullptr;
  std::array<HWND, quorrel::ui::layout::controls.size()> m_controls{};
  HWND m_focus = nullptr;  // the control that had the focus when the window lost it
  int m_dpi = USER_DEFAULT_SCREEN_DPI;
  quorrel::win32::unique_font m_font;
  quorrel::win32::unique_icon m_bigIcon;
  quorrel::win32::unique_icon m_smallIcon;
  quorrel::win32::unique_cursor m_hand;
  quorrel::win32::com_ptr<IAccPropServices> m_accessibility;
  std::string m_sourceFile;
  quorrel::ui::form m_form;
};

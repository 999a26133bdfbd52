#pragma once
// ui/ holds the window in three parts: this form (form.h, form.cpp), what the
// window does, with no toolkit; qt/, the Qt view on Linux (the class frmSave
// in main_window.h); and win32/, the Win32 view on Windows. Both views draw
// the same control table (layout.h).
//
// What the window frmSave does, without a toolkit: its start-up defaults,
// the editing of the keyword list, the checks and the run behind the Split
// button, the progress caption, files dropped on the window, a stop asked by
// a signal, and the message boxes and the Browse and shop buttons, which
// reach the desktop through platform/ (backend.h, com_dlg.h, system.h).
// Each view (Qt on Linux, Win32 on Windows) creates the controls, implements
// form_view over them and forwards its events to a form; the form never
// holds a control or calls a toolkit.
//
// Texts cross the view interface as UTF-8. Everything runs on the window's
// thread; the form keeps a reference to its view, which must outlive it.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/split.h"

namespace quorrel::ui {

// The window as the form sees it. Control names are the window's own.
class form_view {
 public:
  virtual ~form_view() = default;

  enum class box { source, destination, keyword };  // txtFrom, txtTo, txtKey
  enum class option { by_form, title_names };       // chkByForm, chkTitleNames

  virtual bool ticked(option which) = 0;
  virtual void set_ticked(option which, bool ticked) = 0;
  // lstKey, txtKey, cmdAdd and cmdDelete greyed out (false) or usable; they
  // keep their contents either way.
  virtual void enable_keywords(bool enabled) = 0;

  virtual std::string text(box which) = 0;
  virtual void set_text(box which, const std::string& text) = 0;

  // lstKey: single selection, unsorted, duplicates allowed.
  virtual int key_count() = 0;
  virtual std::string key(int index) = 0;
  virtual void add_key(const std::string& key) = 0;
  virtual void remove_key(int index) = 0;  // later items move up
  virtual void clear_keys() = 0;
  virtual int selected_key() = 0;  // -1 when none is selected
  virtual void clear_key_selection() = 0;

  // Label1's caption, drawn at once (the label sizes itself to it).
  virtual void set_caption(const std::string& caption) = 0;

  // Lets the window handle what is pending (paint, input, close) and returns.
  virtual void process_events() = 0;

  // Closes the window, which ends the program.
  virtual void close_window() = 0;
  // Takes the window off the screen without closing it.
  virtual void hide_window() = 0;

  // The window as the system knows it (a QWidget*, an HWND): the owner of
  // the dialogs and of the shell call.
  virtual void* native_window() = 0;

  virtual std::chrono::steady_clock::time_point now() { return std::chrono::steady_clock::now(); }
};

// Where the destination starts: the program's folder when the user may write
// there (a portable copy), else `fallback_folder` (documents or home).
struct start_folders {
  std::string program_folder;
  bool program_folder_writable = false;
  std::string fallback_folder;

  // The folders as the desktop (platform/backend.h) answers them.
  static start_folders of_desktop();
};

class form final : private split_host {
 public:
  // Events are let through at least this often during a run, so a close is
  // seen within a few tenths of a second, and the caption is redrawn at most
  // once a frame.
  static constexpr std::chrono::milliseconds events_every{50};
  static constexpr std::chrono::milliseconds frame{16};

  form(form_view& view, start_folders folders);

  // Form_Load: the default keywords (default_keywords), the destination, and `source` (the file
  // the program was opened with, if any) in txtFrom; both check boxes cleared.
  void load(const std::string& source = {});

  void add_clicked();     // cmdAdd_Click
  void delete_clicked();  // cmdDelete_Click
  // chkByForm_Click, chkTitleNames_Click: the keyword controls are greyed out
  // while pieces start at headings by their form. A running split keeps the
  // rule and names it started with.
  void option_clicked();
  // Command1_Click: checks, the destination's folder made (make_destination_folder),
  // run with the rule and names the check boxes choose, final caption,
  // message (with the form rule, whether any heading was found).
  void split_clicked();

  // cmdOrigleFile_Click: the open-file dialog, started where txtFrom points;
  // its answer replaces txtFrom, "" on cancel.
  void browse_source_clicked();
  // cmdSaveFolder_Click: the folder picker; its answer replaces txtTo, ""
  // on cancel.
  void browse_destination_clicked();
  // cmdWeb_Click and Label1_Click: the shop's page in the user's browser;
  // the user is told nothing, whether it opened or not.
  void shop_clicked();

  // The view changed lstKey other than through the form (the core reads the
  // list afresh only when its version changes).
  void keywords_changed() { ++keywords_version_; }

  // A local file or folder dropped on the window: a file fills txtFrom, a
  // folder fills txtTo, ending in one separator.
  void dropped(const std::string& path, bool is_folder);

  // The window is asked to close. False while a split runs: the window
  // leaves the screen at once, the run stops at its next line (removing the
  // piece it was writing, which for a large piece takes longer than a user
  // should wait to see the close) and the window closes once it has returned.
  bool close_asked();
  // The system asks to end the session (a sign-out, a shutdown): true while
  // no split runs. During a split it is refused and the run stops at its next
  // line, as for a close, but the window waits for the outcome to close. A
  // close the user asked for stays the user's, whichever came first.
  bool session_end_asked();
  // That outcome: ending, the program ends now; cancelled, the close is taken
  // back and a run still going goes on. True: destroy the window at once (a
  // close posted now would never be handled).
  bool session_ended(bool ending);

  // Polled by the view (a few times a second): a stop signal caught while no
  // split runs closes the window. During a run the run itself stops.
  void poll_stop_signal();

  bool splitting() const { return splitting_; }

  // A path pasted as "C:\a b\novel.txt" (the shell's "Copy as path"): blanks
  // around it trimmed, then one pair of surrounding double quotes dropped.
  static std::string_view unquoted(std::string_view text);

 private:
  std::uint64_t keywords_version() override { return keywords_version_; }
  std::vector<std::string> keywords() override;
  void progress(std::int64_t saved) override;
  bool stop_requested() override;
  void heading_seen(line_kind kind, std::int64_t line, std::string_view text) override;

  // Opens `target`, a document's path or a web address, with the user's
  // default handler, unelevated. True when the handler accepted it; on
  // failure `error_text` may receive the system's reason. The name is the
  // window's own.
  bool OpenWithShell(void* owner, const std::string& target, std::string& error_text);

  void show_progress();
  void let_events_through();
  void tell(const std::string& message);
  void close();

  form_view& view_;
  start_folders folders_;
  bool splitting_ = false;
  bool close_pending_ = false;  // the window was closed during a split
  bool session_close_ = false;  // only a sign-out asked that close, its outcome not known yet
  bool close_held_ = false;     // the run stopped for that sign-out: the close waits for its outcome
  std::uint64_t keywords_version_ = 0;
  std::int64_t saved_ = -1;    // the run's last progress report, -1 none
  std::int64_t headings_ = 0;  // heading lines the run has found
  bool caption_shown_ = false;
  std::chrono::steady_clock::time_point caption_at_{};  // caption last drawn
  std::chrono::steady_clock::time_point events_at_{};   // events last let through
};

}  // namespace quorrel::ui

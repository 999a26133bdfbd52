#pragma once
// Everything the window asks of the desktop (message boxes, the two dialogs,
// opening a web page, the system's version, the program's folder, where the
// user may write) goes through one replaceable backend, so that the form and
// the wrappers (com_dlg.h, system.h) can be tested without a person at the
// screen. One implementation per system, in a library of its own that each
// program's main() installs: backend_qt.cpp with the Qt window on Linux,
// backend_win32.cpp (the Windows API) on Windows. Tests install a scripted
// one the same way, with ScopedBackend.
//
// Each call only shows or asks: the wrappers' rules (where a dialog starts,
// what is kept of its answer, the trailing separator, the verb) are theirs.
// Texts and paths are UTF-8. Nothing throws but std::bad_alloc.

#include <cstdint>
#include <string>
#include <vector>

namespace quorrel::platform {

// The window that owns a dialog or a shell call, as the system knows it: a
// QWidget* with Qt, an HWND on Windows; null for none.
using owner_window = void*;

// One entry of the open-file dialog's filter list: "Text" and "*.txt;*.log".
struct FileFilter {
  std::string text;
  std::string patterns;
  friend bool operator==(const FileFilter&, const FileFilter&) = default;
};

// The running system's version: on Windows the NT version it really runs.
struct OsVersion {
  bool windowsNt = false;
  int major = 0;
  friend bool operator==(const OsVersion&, const OsVersion&) = default;
};

class Backend {
 public:
  virtual ~Backend() = default;

  // Modal message box: OK button, information icon, title "Quorrel".
  virtual void showMessage(owner_window owner, const std::string& text) = 0;

  // Modal open-file dialog started in `startDir`, offering `filters`, the
  // first one selected (none: every file). A typed name of a file that does
  // not exist is accepted too. Returns what the dialog answered, which may
  // run on past a NUL; "" on cancel or when no dialog could be shown.
  virtual std::string openFile(owner_window owner, const std::string& title, const std::string& startDir,
                               const std::vector<FileFilter>& filters) = 0;

  // Modal folder picker showing `prompt`, started at the Windows special
  // folder `csidl` (0: the desktop). Returns the chosen item's path as the
  // dialog gives it, "" on cancel or for an item with no path.
  virtual std::string chooseFolder(owner_window owner, const std::string& prompt, std::int32_t csidl) = 0;

  // Opens a web address or a document's path with the user's default
  // handler, unelevated. True when the handler accepted it; on failure
  // `errorText` receives the system's reason when it gives one.
  virtual bool openDocument(owner_window owner, const std::string& target, std::string& errorText) = 0;

  virtual OsVersion osVersion() = 0;

  // The folder that holds the running program, without a trailing separator.
  virtual std::string programFolder() = 0;

  // Whether the user may create files in `folder` (an existing folder on a
  // file system mounted for writing, with write permission).
  virtual bool mayWriteTo(const std::string& folder) = 0;

  // The user's documents folder when there is one, else the home folder.
  virtual std::string documentsFolder() = 0;

  // Whether `path` names an existing folder (hidden ones included).
  virtual bool isFolder(const std::string& path) = 0;
};

// The system's own backend: defined by the library quorrel_backend
// (backend_qt.cpp or backend_win32.cpp), which only the programs link.
Backend& systemBackend();

// The backend installed last. Using the desktop with none installed is a
// fault of the program: it stops with a message.
Backend& backend();

// Installs `installed` for the lifetime of the guard, then restores the previous.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& installed);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* m_previous;
};

}  // namespace quorrel::platform

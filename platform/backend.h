#pragma once
// Everything the window asks of the desktop (message boxes, the two dialogs,
// opening a web page, the system's version, the program's folder, where the
// user may write) goes
// through one replaceable backend, so that handlers can be tested without a
// person at the screen.
// The real backend uses Qt; tests install a scripted one with ScopedBackend.

#include <QOperatingSystemVersion>
#include <QString>
#include <QStringList>

class QWidget;
class QUrl;

namespace quorrel::platform {

class Backend {
 public:
  virtual ~Backend() = default;

  // Modal message box: OK button, information icon, title "Quorrel".
  virtual void showMessage(QWidget* owner, const QString& text) = 0;

  // Modal open-file dialog. `filters` are Qt name filters ("Text (*.txt)",
  // or a bare pattern list "*.txt" shown as it is),
  // the first one selected; none offers every file. A typed name of a file
  // that does not exist is accepted too. Returns the chosen path with the
  // platform's separators, "" on cancel.
  virtual QString openFile(QWidget* owner, const QString& title, const QString& startDir,
                           const QStringList& filters) = 0;

  // Modal folder chooser, real directories only. Returns the chosen folder
  // without a trailing separator (a root as it is), "" on cancel.
  virtual QString chooseFolder(QWidget* owner, const QString& prompt, const QString& startDir) = 0;

  // Opens a document or web address with the user's default handler.
  // True when the handler accepted it.
  virtual bool openUrl(const QUrl& url) = 0;

  // The running system's version; on Windows, the NT version.
  virtual QOperatingSystemVersion osVersion() = 0;

  // The folder that holds the program, where the open-file dialog starts
  // when it is given nowhere usable. By default the running executable's.
  virtual QString programFolder();

  // Whether the user may create files in `folder` (an existing folder on a
  // file system mounted for writing, with write permission).
  virtual bool mayWriteTo(const QString& folder);

  // The user's documents folder when there is one, else the home folder.
  virtual QString documentsFolder();
};

// The backend in use: the Qt one unless a test installed another.
Backend& backend();

// Installs `fake` for the lifetime of the guard, then restores the previous.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& fake);
  ~ScopedBackend();
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* m_previous;
};

// Shorthand for backend().showMessage.
void showMessage(QWidget* owner, const QString& text);

}  // namespace quorrel::platform

#pragma once
// frmSave, Quorrel's one window: the source file, the destination folder, the
// keyword list and the Split button, plus the shop button and link.
//
// The names of the window, its controls, its handlers and its shell call
// (frmSave, txtFrom, Command1, lstKey, cmdAdd_Click, Form_Load, OpenWithShell,
// ...) are the names the program's users and its documentation know them by,
// so they are kept exactly, though they follow no convention of this code.
// Each control also carries its name as objectName, so tests can find it.
//
// Positions and sizes come from the control table in twips, converted at 15
// twips to a logical pixel (ui/main_window.cpp).

#include <QCoreApplication>  // applicationDirPath, the default program folder
#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "core/split.h"

class QLineEdit;
class QListWidget;
class QPushButton;

namespace quorrel::ui {
class CaptionLabel;
}

// The window is also the split's host: the core asks it for the keyword list
// before every line, reports progress to it and asks whether to stop.
//
// The heading test (a line holding every item of lstKey) is applied by the
// core's run_split, on the source's bytes: before each line it compares
// keywords_version() with the version it last saw and only then fetches
// keywords() again, so edits to lstKey during a split apply from the next line.
class frmSave : public QWidget, private quorrel::split_host {
  Q_OBJECT
  friend class HandlersTest;  // OpenWithShell's result has no other reader

 public:
  // programFolder: the folder that holds the program, the default destination.
  explicit frmSave(const QString& programFolder = QCoreApplication::applicationDirPath(),
                   QWidget* parent = nullptr);
  ~frmSave() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private slots:
  void Form_Load();
  void Command1_Click();
  void cmdAdd_Click();
  void cmdDelete_Click();
  void cmdOrigleFile_Click();
  void cmdSaveFolder_Click();
  void cmdWeb_Click();
  void Label1_Click();

 private:
  std::uint64_t keywords_version() override;
  std::vector<std::string> keywords() override;
  void progress(std::int64_t saved) override;
  bool stop_requested() override;

  void showProgress();
  int selectedKeyIndex() const;

  // Opens `target`, a document's path or a web address, with the user's
  // default handler. True when the handler accepted it. Nothing is thrown:
  // a failure caught on the way is described in `errorText`, which is left
  // as it was otherwise.
  bool OpenWithShell(QWidget* owner, QString target, QString& errorText);

  // The controls, in tab order.
  quorrel::ui::CaptionLabel* Label1;
  QPushButton* Command1;
  quorrel::ui::CaptionLabel* Label2;
  QLineEdit* txtFrom;
  QPushButton* cmdOrigleFile;
  quorrel::ui::CaptionLabel* Label3;
  QLineEdit* txtTo;
  QPushButton* cmdSaveFolder;
  QListWidget* lstKey;
  QLineEdit* txtKey;
  QPushButton* cmdAdd;
  QPushButton* cmdDelete;
  quorrel::ui::CaptionLabel* Label4;
  QPushButton* cmdWeb;

  QString m_programFolder;
  bool m_centred = false;
  bool m_splitting = false;
  bool m_closeRequested = false;        // the window was closed during a split
  std::uint64_t m_keywordsVersion = 0;  // bumped by every change of lstKey
  std::int64_t m_saved = -1;            // the last progress report of the run, -1 none
  QElapsedTimer m_sinceShown;           // since progress was last shown
  QString m_shellVerb;                  // of the last shell call; both open alike
};

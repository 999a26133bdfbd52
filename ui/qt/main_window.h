#pragma once
// frmSave, Quorrel's one window: the source file, the destination folder, the
// keyword list and the Split button, plus the shop button and link.
//
// The names of the window, its controls, its handlers and its shell call
// (frmSave, txtFrom, Command1, lstKey, cmdAdd_Click, Form_Load, ...) are the names the program's users and
// its documentation know them by, so they are kept exactly, though they follow no convention of this code.
// Each control also carries its name as objectName, so tests can find it.
//
// Positions and sizes come from the control table in twips, converted at 15
// twips to a logical pixel (ui/layout.h, the table the Win32 view reads too).

#include <QWidget>
#include <string>

#include "ui/form.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace quorrel::ui {
class CaptionLabel;
}

// The window is a view of quorrel::ui::form, which holds what it does
// (ui/form.h): the controls and their layout are here, and each handler
// forwards to the form.
class frmSave : public QWidget, private quorrel::ui::form_view {
  Q_OBJECT

 public:
  // sourceFile: put into txtFrom at start-up (the file the program was opened
  // with), none when empty. The destination starts in the folders the
  // desktop names (quorrel::ui::start_folders::of_desktop).
  explicit frmSave(const QString& sourceFile = QString(), QWidget* parent = nullptr);
  ~frmSave() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  // Files dragged over a text box are the window's, not text for the box.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
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

 private:
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
  void* native_window() override;

  QLineEdit* boxOf(box which) const;
  QCheckBox* checkBoxOf(option which) const;

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
  QCheckBox* chkByForm;
  QCheckBox* chkTitleNames;
  quorrel::ui::CaptionLabel* Label4;
  QPushButton* cmdWeb;

  quorrel::ui::form m_form;
  QString m_sourceFile;  // the file the program was opened with
  QTimer* m_stopSignalPoll;
  bool m_centred = false;
};

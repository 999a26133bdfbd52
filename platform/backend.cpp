#include "platform/backend.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QUrl>

namespace quorrel::platform {

namespace {

constexpr auto kTitle = "Quorrel";

class QtBackend final : public Backend {
 public:
  void showMessage(QWidget* owner, const QString& text) override {
    QMessageBox box(QMessageBox::Information, QString::fromLatin1(kTitle), text, QMessageBox::Ok,
                    owner);
    box.exec();
  }

  // Not QFileDialog::getOpenFileName: that one confirms existing files only.
  QString openFile(QWidget* owner, const QString& title, const QString& startDir,
                   const QStringList& filters) override {
    QFileDialog dialog(owner, title, startDir);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!filters.isEmpty()) {
      dialog.setNameFilters(filters);
      dialog.selectNameFilter(filters.first());
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().value(0));
  }

  QString chooseFolder(QWidget* owner, const QString& prompt, const QString& startDir) override {
    QString folder = QDir::toNativeSeparators(
        QFileDialog::getExistingDirectory(owner, prompt, startDir, QFileDialog::ShowDirsOnly));
    // The dialog may hand back "C:/" or "/dir/"; only a root keeps its separator.
    while (folder.size() > 1 && folder.endsWith(QDir::separator()) && !QDir(folder).isRoot())
      folder.chop(1);
    return folder;
  }

  bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }

  QOperatingSystemVersion osVersion() override { return QOperatingSystemVersion::current(); }
};

QtBackend& qtBackend() {
  static QtBackend instance;
  return instance;
}

Backend* g_current = nullptr;  // null: the Qt backend

}  // namespace

QString Backend::programFolder() { return QCoreApplication::applicationDirPath(); }

// access(2) underneath: a read-only mount counts as not writable.
bool Backend::mayWriteTo(const QString& folder) {
  const QFileInfo info(folder);
  return info.isDir() && info.isWritable();
}

QString Backend::documentsFolder() {
  const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

Backend& backend() { return g_current ? *g_current : qtBackend(); }

ScopedBackend::ScopedBackend(Backend& fake) : m_previous(g_current) { g_current = &fake; }

ScopedBackend::~ScopedBackend() { g_current = m_previous; }

void showMessage(QWidget* owner, const QString& text) { backend().showMessage(owner, text); }

}  // namespace quorrel::platform

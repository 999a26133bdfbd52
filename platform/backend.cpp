#include "platform/backend.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
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

  QString openFile(QWidget* owner, const QString& title, const QString& startDir,
                   const QStringList& filters) override {
    QString selected = filters.value(0);
    const QString path = QFileDialog::getOpenFileName(
        owner, title, startDir, filters.join(QStringLiteral(";;")), &selected);
    return QDir::toNativeSeparators(path);
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

Backend& backend() { return g_current ? *g_current : qtBackend(); }

ScopedBackend::ScopedBackend(Backend& fake) : m_previous(g_current) { g_current = &fake; }

ScopedBackend::~ScopedBackend() { g_current = m_previous; }

void showMessage(QWidget* owner, const QString& text) { backend().showMessage(owner, text); }

}  // namespace quorrel::platform

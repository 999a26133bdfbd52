// The desktop backend on Linux: Qt's message box, dialogs and default
// handlers.

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QOperatingSystemVersion>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <optional>

#include "platform/backend.h"

namespace quorrel::platform {

namespace {

// Windows special-folder numbers (CSIDL) that have a standard location here.
constexpr std::int32_t kCsidlPrograms = 2;
constexpr std::int32_t kCsidlPersonal = 5;
constexpr std::int32_t kCsidlDesktopDirectory = 16;
constexpr std::int32_t kCsidlFonts = 20;
constexpr std::int32_t kCsidlLocalAppData = 28;
constexpr std::int32_t kCsidlMyPictures = 39;

QString qt(const std::string& text) { return QString::fromStdString(text); }

// "*.txt; *.log" -> "*.txt *.log"; "*.*" matches every name on Windows, with
// or without a dot, so it becomes "*". Only spaces are blank around a pattern.
QString qtPatterns(const std::string& windowsPatterns) {
  QStringList patterns;
  for (QString one : qt(windowsPatterns).split(u';', Qt::SkipEmptyParts)) {
    while (one.startsWith(u' ')) one.remove(0, 1);
    while (one.endsWith(u' ')) one.chop(1);
    if (!one.isEmpty()) patterns << (one == QLatin1String("*.*") ? QStringLiteral("*") : one);
  }
  return patterns.join(u' ');
}

// A display text that is its own pattern list is shown once: "*.txt", not
// "*.txt (*.txt)".
QStringList nameFilters(const std::vector<FileFilter>& filters) {
  QStringList shown;
  for (const FileFilter& pair : filters) {
    const QString text = qt(pair.text);
    const QString patterns = qtPatterns(pair.patterns);
    shown << (text == patterns ? patterns : QStringLiteral("%1 (%2)").arg(text, patterns));
  }
  return shown;
}

std::optional<QStandardPaths::StandardLocation> standardLocation(std::int32_t csidl) {
  switch (csidl) {
    case kCsidlPrograms: return QStandardPaths::ApplicationsLocation;
    case kCsidlPersonal: return QStandardPaths::DocumentsLocation;
    case kCsidlDesktopDirectory: return QStandardPaths::DesktopLocation;
    case kCsidlFonts: return QStandardPaths::FontsLocation;
    case kCsidlLocalAppData: return QStandardPaths::GenericDataLocation;
    case kCsidlMyPictures: return QStandardPaths::PicturesLocation;
    default: return std::nullopt;  // the desktop, the user's profile, ...: home
  }
}

// The user's home for the desktop, from where the whole file system is
// reachable, or the matching standard folder when there is one.
QString startingFolder(std::int32_t csidl) {
  if (const auto location = standardLocation(csidl)) {
    const QString folder = QStandardPaths::writableLocation(*location);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return QDir::toNativeSeparators(folder);
  }
  return QDir::toNativeSeparators(QDir::homePath());
}

class QtBackend final : public Backend {
 public:
  void showMessage(owner_window owner, const std::string& text) override {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Quorrel"), qt(text), QMessageBox::Ok,
                    static_cast<QWidget*>(owner));
    box.exec();
  }

  // Not QFileDialog::getOpenFileName: that one confirms existing files only.
  std::string openFile(owner_window owner, const std::string& title, const std::string& startDir,
                       const std::vector<FileFilter>& filters) override {
    QFileDialog dialog(static_cast<QWidget*>(owner), qt(title), qt(startDir));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList shown = nameFilters(filters);
    if (!shown.isEmpty()) {
      dialog.setNameFilters(shown);
      dialog.selectNameFilter(shown.first());
    }
    if (dialog.exec() != QDialog::Accepted) return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().value(0)).toStdString();
  }

  std::string chooseFolder(owner_window owner, const std::string& prompt, std::int32_t csidl) override {
    return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(static_cast<QWidget*>(owner),
                                                                      qt(prompt), startingFolder(csidl),
                                                                      QFileDialog::ShowDirsOnly))
        .toStdString();
  }

  // QDesktopServices takes no owner window, and says nothing of why a handler
  // refused.
  bool openDocument(owner_window, const std::string& target, std::string&) override {
    return QDesktopServices::openUrl(QUrl::fromUserInput(qt(target), QDir::currentPath()));
  }

  OsVersion osVersion() override {
    const QOperatingSystemVersion version = QOperatingSystemVersion::current();
    return {version.type() == QOperatingSystemVersion::Windows, version.majorVersion()};
  }

  std::string programFolder() override {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
  }

  // access(2) underneath: a read-only mount counts as not writable.
  bool mayWriteTo(const std::string& folder) override {
    const QFileInfo info(qt(folder));
    return info.isDir() && info.isWritable();
  }

  std::string documentsFolder() override {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir::toNativeSeparators(!documents.isEmpty() && QFileInfo(documents).isDir() ? documents
                                                                                         : QDir::homePath())
        .toStdString();
  }

  bool isFolder(const std::string& path) override { return QFileInfo(qt(path)).isDir(); }
};

}  // namespace

Backend& systemBackend() {
  static QtBackend instance;
  return instance;
}

}  // namespace quorrel::platform

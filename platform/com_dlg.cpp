#include "platform/com_dlg.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <optional>

#include "platform/backend.h"
#include "platform/com_dlg_rules.h"

namespace modComDlg32 {

namespace {

using quorrel::platform::backend;

// Windows special-folder numbers (CSIDL) that have a standard location here.
constexpr std::int32_t kCsidlPrograms = 2;
constexpr std::int32_t kCsidlPersonal = 5;
constexpr std::int32_t kCsidlDesktopDirectory = 16;
constexpr std::int32_t kCsidlFonts = 20;
constexpr std::int32_t kCsidlLocalAppData = 28;
constexpr std::int32_t kCsidlMyPictures = 39;

// Typed paths may use "/" on Windows too.
bool endsWithSeparator(const QString& path) {
  return path.endsWith(QDir::separator()) || path.endsWith(u'/');
}

bool isFolder(const std::string& path) { return QFileInfo(QString::fromStdString(path)).isDir(); }

// "*.txt;*.log" -> "*.txt *.log"; "*.*" matches every name on Windows, with
// or without a dot, so it becomes "*".
QString qtPatterns(const std::string& windowsPatterns) {
  QStringList patterns;
  for (const QString& pattern :
       QString::fromStdString(windowsPatterns).split(u';', Qt::SkipEmptyParts)) {
    const QString one =
        QString::fromStdString(std::string(quorrel::platform::trimSpaces(pattern.toStdString())));
    if (!one.isEmpty()) patterns << (one == QLatin1String("*.*") ? QStringLiteral("*") : one);
  }
  return patterns.join(u' ');
}

QStringList nameFilters(const std::string& filter) {
  QStringList filters;
  for (const quorrel::platform::FileFilter& pair : quorrel::platform::filterPairs(filter)) {
    // A display text that is its own pattern list is shown once: "*.txt",
    // not "*.txt (*.txt)".
    const QString text = QString::fromStdString(pair.text);
    const QString patterns = qtPatterns(pair.patterns);
    filters << (text == patterns ? patterns : QStringLiteral("%1 (%2)").arg(text, patterns));
  }
  return filters;
}

std::optional<QStandardPaths::StandardLocation> standardLocation(std::int32_t csidl) {
  switch (csidl) {
    case kCsidlPrograms:
      return QStandardPaths::ApplicationsLocation;
    case kCsidlPersonal:
      return QStandardPaths::DocumentsLocation;
    case kCsidlDesktopDirectory:
      return QStandardPaths::DesktopLocation;
    case kCsidlFonts:
      return QStandardPaths::FontsLocation;
    case kCsidlLocalAppData:
      return QStandardPaths::GenericDataLocation;
    case kCsidlMyPictures:
      return QStandardPaths::PicturesLocation;
    default:
      return std::nullopt;  // the desktop, the user's profile, ...: home
  }
}

QString startingFolder(std::int32_t csidl) {
  if (const auto location = standardLocation(csidl)) {
    const QString folder = QStandardPaths::writableLocation(*location);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) return QDir::toNativeSeparators(folder);
  }
  return QDir::toNativeSeparators(QDir::homePath());
}

// One separator at the end, whatever the dialog handed back; a root as it is.
QString withTrailingSeparator(QString folder) {
  while (endsWithSeparator(folder) && !QDir(folder).isRoot()) folder.chop(1);
  if (!endsWithSeparator(folder)) folder += QDir::separator();
  return folder;
}

}  // namespace

std::string ShowOpenFile(owner_window owner, const std::string& title, std::string& startDir,
                         const std::string& filter, std::uint32_t flags) {
  const std::string programFolder =
      QDir::toNativeSeparators(backend().programFolder()).toStdString();
  startDir = quorrel::platform::startingDirectory(startDir, programFolder, isFolder);
  const QString currentDir = QDir::currentPath();
  QString chosen;
  try {
    chosen = backend().openFile(static_cast<QWidget*>(owner), QString::fromStdString(title),
                                QString::fromStdString(startDir), nameFilters(filter));
  } catch (...) {
    // A dialog that could not be shown chose nothing.
  }
  if (flags & kNoChangeDir) QDir::setCurrent(currentDir);
  return chosen.toStdString();
}

std::string BrowseFolder(const std::string& prompt, owner_window owner, std::int16_t rootCode) {
  const QString folder = QDir::toNativeSeparators(
      backend().chooseFolder(static_cast<QWidget*>(owner),
                             QString::fromStdString(quorrel::platform::shownPrompt(prompt)),
                             startingFolder(MapFolderRoot(rootCode))));
  if (folder.isEmpty()) return {};
  if ((BrowseFlags() & kReturnOnlyFsDirs) && !QFileInfo(folder).isDir()) return {};
  return withTrailingSeparator(folder).toStdString();
}

}  // namespace modComDlg32

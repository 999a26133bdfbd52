#include "platform/com_dlg.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <optional>

#include "platform/backend.h"

namespace modComDlg32 {

namespace {

using quorrel::platform::backend;

// Windows special-folder numbers (CSIDL) that have a standard location here.
constexpr qint32 kCsidlPrograms = 2;
constexpr qint32 kCsidlPersonal = 5;
constexpr qint32 kCsidlDesktopDirectory = 16;
constexpr qint32 kCsidlFonts = 20;
constexpr qint32 kCsidlLocalAppData = 28;
constexpr qint32 kCsidlMyPictures = 39;

// Only spaces count as blank around a starting directory or a filter, as in
// the Windows program; a tab is text.
QString trimSpaces(const QString& text) {
  qsizetype first = 0, end = text.size();
  while (first < end && text[first] == u' ') ++first;
  while (end > first && text[end - 1] == u' ') --end;
  return text.sliced(first, end - first);
}

// Typed paths may use "/" on Windows too.
bool endsWithSeparator(const QString& path) {
  return path.endsWith(QDir::separator()) || path.endsWith(u'/');
}

QString programFolder() { return QDir::toNativeSeparators(backend().programFolder()); }

QString startingDirectory(const QString& given) {
  if (trimSpaces(given).isEmpty()) return programFolder();
  const QString folder = endsWithSeparator(given) ? given : given + QDir::separator();
  // With the separator a file's path is no directory: "a.txt/" does not exist.
  return QFileInfo(folder).isDir() ? folder : programFolder();
}

// "*.txt;*.log" -> "*.txt *.log"; "*.*" matches every name on Windows, with
// or without a dot, so it becomes "*".
QString qtPatterns(const QString& windowsPatterns) {
  QStringList patterns;
  for (const QString& pattern : windowsPatterns.split(u';', Qt::SkipEmptyParts)) {
    const QString one = trimSpaces(pattern);
    if (!one.isEmpty()) patterns << (one == QLatin1String("*.*") ? QStringLiteral("*") : one);
  }
  return patterns.join(u' ');
}

QStringList nameFilters(const QString& filter) {
  const QStringList parts =
      (trimSpaces(filter).isEmpty() ? QStringLiteral("*.*|*.*") : filter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty() || parts[i + 1].isEmpty()) break;  // the end of the Windows list
    // A display text that is its own pattern list is shown once: "*.txt",
    // not "*.txt (*.txt)".
    const QString patterns = qtPatterns(parts[i + 1]);
    filters << (parts[i] == patterns ? patterns : QStringLiteral("%1 (%2)").arg(parts[i], patterns));
  }
  return filters;
}

std::optional<QStandardPaths::StandardLocation> standardLocation(qint32 csidl) {
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

QString startingFolder(qint32 csidl) {
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

QString ShowOpenFile(QWidget* owner, const QString& title, QString& startDir, const QString& filter,
                     quint32 flags) {
  startDir = startingDirectory(startDir);
  const QString currentDir = QDir::currentPath();
  QString chosen;
  try {
    chosen = backend().openFile(owner, title, startDir, nameFilters(filter));
  } catch (...) {
    // A dialog that could not be shown chose nothing.
  }
  if (flags & kNoChangeDir) QDir::setCurrent(currentDir);
  return chosen;
}

QString BrowseFolder(const QString& prompt, QWidget* owner, qint16 rootCode) {
  const QString shown = prompt.isEmpty() ? QStringLiteral("请选择文件夹:") : prompt;
  const QString folder = QDir::toNativeSeparators(
      backend().chooseFolder(owner, shown, startingFolder(MapFolderRoot(rootCode))));
  if (folder.isEmpty()) return {};
  if ((BrowseFlags() & kReturnOnlyFsDirs) && !QFileInfo(folder).isDir()) return {};
  return withTrailingSeparator(folder);
}

qint32 MapFolderRoot(qint16 rootCode) {
  if (rootCode < 2) return 0;
  if (rootCode <= 11) return rootCode;
  return qint32{rootCode} + 4;
}

quint32 BrowseFlags() { return kReturnOnlyFsDirs; }

}  // namespace modComDlg32

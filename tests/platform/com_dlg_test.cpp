// The open-file dialog and the folder picker of modComDlg32 on a scripted
// desktop: what they ask the dialog (start, filters, prompt) and what they
// make of its answer, on real folders in a temporary folder.

#include "platform/com_dlg.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "tests/ui/fake_backend.h"

namespace {

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

// The wrappers speak UTF-8.
std::string utf8(const QString& text) { return text.toStdString(); }
QString qt(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

class ComDlgTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void open_file_starts_in_a_folder_that_exists_data();
  void open_file_starts_in_a_folder_that_exists();
  void open_file_offers_the_filter_pairs_data();
  void open_file_offers_the_filter_pairs();
  void open_file_answers_and_keeps_the_current_directory_data();
  void open_file_answers_and_keeps_the_current_directory();
  void folder_picker_shows_the_prompt_data();
  void folder_picker_shows_the_prompt();
  void root_codes_map_without_overflow_data();
  void root_codes_map_without_overflow();
  void folder_picker_starts_at_the_roots_place_data();
  void folder_picker_starts_at_the_roots_place();
  void folder_picker_returns_a_real_folder_with_one_separator_data();
  void folder_picker_returns_a_real_folder_with_one_separator();

 private:
  // "@" in a row stands for the temporary folder, "#" for the program's.
  QString expand(QString path) const {
    return native(path.replace('#', m_dir->filePath("程序")).replace('@', m_dir->path()));
  }

  FakeBackend m_desktop;
  std::optional<quorrel::platform::ScopedBackend> m_guard;
  std::optional<QTemporaryDir> m_dir;
};

void ComDlgTest::init() {
  m_desktop = FakeBackend();
  m_guard.emplace(m_desktop);
  m_dir.emplace();
  QVERIFY(m_dir->isValid());
  QDir dir(m_dir->path());
  for (const char* folder : {"书", ".hidden", "dir ", "   ", "程序"}) QVERIFY(dir.mkdir(folder));
  QFile file(m_dir->filePath("书/a.txt"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  m_desktop.folderOfProgram = m_dir->filePath("程序");
}

void ComDlgTest::cleanup() {
  m_guard.reset();
  m_dir.reset();
  for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY(!top->isVisible());
}

void ComDlgTest::open_file_starts_in_a_folder_that_exists_data() {
  QTest::addColumn<QString>("given");
  QTest::addColumn<QString>("used");
  QTest::newRow("empty") << ""
                         << "#";
  QTest::newRow("spaces only, a folder's name here") << "   "
                                                     << "#";
  QTest::newRow("folder") << "@/书"
                          << "@/书/";
  QTest::newRow("folder with separator") << "@/书/"
                                         << "@/书/";
  QTest::newRow("folder here") << "书"
                               << "书/";
  QTest::newRow("hidden folder") << "@/.hidden"
                                 << "@/.hidden/";
  QTest::newRow("folder ending in a space") << "@/dir "
                                            << "@/dir /";
  QTest::newRow("spaces before a folder are part of it") << " @/书"
                                                         << "#";
  QTest::newRow("file path") << "@/书/a.txt"
                             << "#";
  QTest::newRow("missing folder") << "@/无"
                                  << "#";
}

// The dialog starts there, and the caller's variable receives it. Names
// without a folder are looked up in the temporary folder, made current.
void ComDlgTest::open_file_starts_in_a_folder_that_exists() {
  QFETCH(QString, given);
  QFETCH(QString, used);
  std::string startDir = utf8(expand(given));
  const QString before = QDir::currentPath();
  QVERIFY(QDir::setCurrent(m_dir->path()));
  modComDlg32::ShowOpenFile(nullptr, "选择", startDir, "*.txt|*.txt", 0);
  QDir::setCurrent(before);
  QCOMPARE(m_desktop.dialogs.size(), 1);
  QCOMPARE(m_desktop.dialogs[0].startDir, expand(used));
  QCOMPARE(qt(startDir), expand(used));
}

void ComDlgTest::open_file_offers_the_filter_pairs_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("offered");  // the first one selected
  QTest::newRow("one pair") << "*.txt|*.txt" << QStringList{"*.txt"};
  QTest::newRow("empty: every file") << "" << QStringList{"*.* (*)"};
  QTest::newRow("spaces only: every file") << "   " << QStringList{"*.* (*)"};
  QTest::newRow("two pairs, several patterns")
      << "文本|*.txt; *.log|全部|*.*" << QStringList{"文本 (*.txt *.log)", "全部 (*)"};
  QTest::newRow("text without pattern dropped") << "文本|*.txt|全部" << QStringList{"文本 (*.txt)"};
  QTest::newRow("empty part ends the list")
      << "文本|*.txt||全部|*.*" << QStringList{"文本 (*.txt)"};
  QTest::newRow("a tab is no blank") << "\t" << QStringList{};
  QTest::newRow("spaces around a pattern") << "全部| *.* " << QStringList{"全部 (*)"};
}

void ComDlgTest::open_file_offers_the_filter_pairs() {
  QFETCH(QString, filter);
  QFETCH(QStringList, offered);
  std::string startDir;
  modComDlg32::ShowOpenFile(nullptr, "选择", startDir, utf8(filter), 0);
  QCOMPARE(m_desktop.dialogs.size(), 1);
  QCOMPARE(m_desktop.dialogs[0].filters, offered);
}

void ComDlgTest::open_file_answers_and_keeps_the_current_directory_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<bool>("fails");  // the dialog cannot be shown
  QTest::addColumn<std::uint32_t>("flags");
  QTest::addColumn<QString>("result");
  QTest::addColumn<QString>("currentDir");  // "." as before the call
  const std::uint32_t caller = modComDlg32::kLongNames | modComDlg32::kNoChangeDir;
  QTest::newRow("chosen") << "@/书/a.txt" << false << caller << "@/书/a.txt"
                          << ".";
  QTest::newRow("typed name of a missing file") << "@/新.txt" << false << caller << "@/新.txt"
                                                << ".";
  QTest::newRow("cancelled") << "" << false << caller << ""
                             << ".";
  QTest::newRow("dialog fails") << "@/书/a.txt" << true << caller << ""
                                << ".";
  QTest::newRow("directory change allowed") << "" << false << modComDlg32::kLongNames << ""
                                            << "@/书";
}

// The scripted dialog moves the current directory, as a native one may.
void ComDlgTest::open_file_answers_and_keeps_the_current_directory() {
  QFETCH(QString, answer);
  QFETCH(bool, fails);
  QFETCH(std::uint32_t, flags);
  QFETCH(QString, result);
  QFETCH(QString, currentDir);
  const QString before = QDir::currentPath();
  m_desktop.fileAnswer = expand(answer);
  m_desktop.whileDialogOpen = [&] {
    QDir::setCurrent(m_dir->filePath("书"));
    if (fails) throw std::runtime_error("no dialog");
  };
  QWidget owner;
  std::string startDir;
  const QString chosen = qt(modComDlg32::ShowOpenFile(&owner, " 选择 ", startDir, "", flags));
  const QString after = QDir::currentPath();
  QDir::setCurrent(before);
  QCOMPARE(chosen, expand(result));
  QCOMPARE(m_desktop.dialogs[0].owner, &owner);
  QCOMPARE(m_desktop.dialogs[0].title, QStringLiteral(" 选择 "));
  QCOMPARE(native(after), currentDir == "." ? native(before) : expand(currentDir));
}

void ComDlgTest::folder_picker_shows_the_prompt_data() {
  QTest::addColumn<QString>("prompt");
  QTest::addColumn<QString>("shown");
  QTest::newRow("empty") << ""
                         << "请选择文件夹:";
  QTest::newRow("the window's") << "选择目录"
                                << "选择目录";
  QTest::newRow("a space is text") << " "
                                   << " ";
}

void ComDlgTest::folder_picker_shows_the_prompt() {
  QFETCH(QString, prompt);
  QFETCH(QString, shown);
  QWidget owner;
  modComDlg32::BrowseFolder(utf8(prompt), &owner, 0);
  QCOMPARE(m_desktop.dialogs.size(), 1);
  QCOMPARE(m_desktop.dialogs[0].title, shown);
  QCOMPARE(m_desktop.dialogs[0].owner, &owner);
}

void ComDlgTest::root_codes_map_without_overflow_data() {
  QTest::addColumn<qint16>("code");
  QTest::addColumn<qint32>("csidl");
  const QList<std::pair<qint16, qint32>> table{
      {-32768, 0},    {-1, 0},        {0, 0},         {1, 0},        {2, 2},
      {5, 5},         {11, 11},       {12, 16},       {13, 17},      {32763, 32767},
      {32764, 32768}, {32765, 32769}, {32766, 32770}, {32767, 32771}};
  for (const auto& [code, csidl] : table) QTest::addRow("%d", code) << code << csidl;
}

void ComDlgTest::root_codes_map_without_overflow() {
  QFETCH(qint16, code);
  QFETCH(qint32, csidl);
  QCOMPARE(modComDlg32::MapFolderRoot(code), csidl);
}

void ComDlgTest::folder_picker_starts_at_the_roots_place_data() {
  QTest::addColumn<qint16>("code");
  QTest::addColumn<QString>("start");  // in the home folder
  QTest::newRow("0 desktop: home") << qint16(0) << "";
  QTest::newRow("-32768: home") << qint16(-32768) << "";
  QTest::newRow("2 programs") << qint16(2) << "/.local/share/applications";
  QTest::newRow("5 documents") << qint16(5) << "/Documents";
  QTest::newRow("12 desktop directory") << qint16(12) << "/Desktop";
  QTest::newRow("13 the computer: home") << qint16(13) << "";
  QTest::newRow("24 local application data") << qint16(24) << "/.local/share";
  QTest::newRow("35 pictures, missing: home") << qint16(35) << "";
}

// The user's folders as Linux lays them out, in a home of the test's own.
void ComDlgTest::folder_picker_starts_at_the_roots_place() {
#ifndef Q_OS_LINUX
  QSKIP("the standard folders are laid out as on Linux");
#endif
  QFETCH(qint16, code);
  QFETCH(QString, start);
  const QString home = m_dir->filePath("home");
  for (const char* folder : {"Documents", "Desktop", ".local/share/applications"})
    QVERIFY(QDir(home).mkpath(folder));
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME"), oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(home));
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("XDG_DATA_HOME");
  modComDlg32::BrowseFolder("选择目录", nullptr, code);
  qputenv("HOME", oldHome);
  if (!oldConfig.isNull()) qputenv("XDG_CONFIG_HOME", oldConfig);
  if (!oldData.isNull()) qputenv("XDG_DATA_HOME", oldData);
  QCOMPARE(m_desktop.dialogs.size(), 1);
  QCOMPARE(m_desktop.dialogs[0].startDir, native(home + start));
}

void ComDlgTest::folder_picker_returns_a_real_folder_with_one_separator_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<QString>("result");
  QTest::newRow("folder") << "@/书"
                          << "@/书/";
  QTest::newRow("folder with separator") << "@/书/"
                                         << "@/书/";
  QTest::newRow("folder with two") << "@/书//"
                                   << "@/书/";
  QTest::newRow("folder ending in a space") << "@/dir "
                                            << "@/dir /";
  QTest::newRow("root") << QDir::rootPath() << QDir::rootPath();
  QTest::newRow("cancelled") << ""
                             << "";
  QTest::newRow("a file") << "@/书/a.txt"
                          << "";
  QTest::newRow("missing folder") << "@/无"
                                  << "";
}

void ComDlgTest::folder_picker_returns_a_real_folder_with_one_separator() {
  QFETCH(QString, answer);
  QFETCH(QString, result);
  m_desktop.folderAnswer = expand(answer);
  QCOMPARE(qt(modComDlg32::BrowseFolder("选择目录", nullptr, 0)), expand(result));
}

QTEST_MAIN(ComDlgTest)
#include "com_dlg_test.moc"

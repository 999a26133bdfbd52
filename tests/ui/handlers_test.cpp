// The Browse buttons, the shop button and the link label of frmSave, driven
// through the real window on a scripted desktop: what each asks the desktop
// and what it leaves in the window, also in the middle of a split.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>
#include <stdexcept>

#include "core/messages.h"
#include "fake_backend.h"
#include "ui/caption_label.h"
#include "ui/main_window.h"

namespace {

using quorrel::ui::CaptionLabel;

const QUrl kShopPage(QStringLiteral("https://www.quorrel-shop.example/recharge"));

QString text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

template <typename T>
T* control(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromLatin1(name));
  if (!found) qFatal("frmSave has no %s", name);
  return found;
}

QLineEdit* box(frmSave& w, const char* name) { return control<QLineEdit>(w, name); }

void click(frmSave& w, const char* name) {
  QTest::mouseClick(control<QWidget>(w, name), Qt::LeftButton);
}

// `n` chapters, each a heading and one line.
bool writeNovel(const QString& path, int n) {
  QByteArray bytes;
  for (int k = 1; k <= n; ++k) bytes += QStringLiteral("第%1章\n正文%1\n").arg(k).toUtf8();
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Presses Split on `source` into `destination`, running `during` at the first
// heading, where the window lets events through.
void splitWith(frmSave& w, const QString& source, const QString& destination,
               const std::function<void()>& during) {
  auto* label1 = control<CaptionLabel>(w, "Label1");
  bool done = false;
  const auto hook = QObject::connect(label1, &CaptionLabel::captionChanged, label1, [&] {
    if (!std::exchange(done, true)) during();
  });
  box(w, "txtFrom")->setText(source);
  box(w, "txtTo")->setText(destination);
  control<QPushButton>(w, "Command1")->click();
  QObject::disconnect(hook);
}

}  // namespace

class HandlersTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void source_browse_puts_the_chosen_file_into_txtFrom_data();
  void source_browse_puts_the_chosen_file_into_txtFrom();
  void destination_browse_puts_the_chosen_folder_into_txtTo_data();
  void destination_browse_puts_the_chosen_folder_into_txtTo();
  void shop_button_and_link_open_the_shop_page_silently_data();
  void shop_button_and_link_open_the_shop_page_silently();
  void browse_during_a_split_changes_only_its_box_data();
  void browse_during_a_split_changes_only_its_box();

 private:
  // "@" in a row stands for the temporary folder, "#" for the program's.
  QString expand(QString path) const {
    return QDir::toNativeSeparators(
        path.replace('#', m_dir->filePath("程序")).replace('@', m_dir->path()));
  }

  FakeBackend m_desktop;
  std::optional<quorrel::platform::ScopedBackend> m_guard;
  std::optional<QTemporaryDir> m_dir;
};

void HandlersTest::initTestCase() { QApplication::setQuitOnLastWindowClosed(false); }

void HandlersTest::init() {
  m_desktop = FakeBackend();
  m_guard.emplace(m_desktop);
  m_dir.emplace();
  QVERIFY(m_dir->isValid());
  for (const char* folder : {"书", "out", "程序"}) QVERIFY(QDir(m_dir->path()).mkdir(folder));
  QVERIFY(writeNovel(m_dir->filePath("书/a.txt"), 5));
  m_desktop.folderOfProgram = m_dir->filePath("程序");
}

void HandlersTest::cleanup() {
  m_guard.reset();
  m_dir.reset();
  for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY(!top->isVisible());
}

void HandlersTest::source_browse_puts_the_chosen_file_into_txtFrom_data() {
  QTest::addColumn<QString>("before");  // txtFrom
  QTest::addColumn<QString>("answer");
  QTest::addColumn<QString>("start");
  QTest::addColumn<QString>("after");
  QTest::newRow("empty box, file chosen") << ""
                                          << "@/书/a.txt"
                                          << "#"
                                          << "@/书/a.txt";
  QTest::newRow("answer cut at its first NUL") << "@/书/a.txt"
                                               << "@/书/b.txt" + QString(3, QChar(0)) + "x"
                                               << "#"
                                               << "@/书/b.txt";
  QTest::newRow("cancel empties the box") << "@/书/a.txt"
                                          << ""
                                          << "#"
                                          << "";
  QTest::newRow("starts in the folder typed") << "@/书"
                                              << "@/书/a.txt"
                                              << "@/书/"
                                              << "@/书/a.txt";
}

void HandlersTest::source_browse_puts_the_chosen_file_into_txtFrom() {
  QFETCH(QString, before);
  QFETCH(QString, answer);
  QFETCH(QString, start);
  QFETCH(QString, after);
  frmSave w(m_dir->path());
  const QString destination = box(w, "txtTo")->text();
  box(w, "txtFrom")->setText(expand(before));
  m_desktop.fileAnswer = expand(answer);
  click(w, "cmdOrigleFile");
  QCOMPARE(box(w, "txtFrom")->text(), expand(after));
  QCOMPARE(box(w, "txtTo")->text(), destination);
  QCOMPARE(m_desktop.dialogs.size(), 1);
  const FakeBackend::Dialog& dialog = m_desktop.dialogs[0];
  QCOMPARE(dialog.owner, &w);
  QCOMPARE(dialog.title, QStringLiteral("选择"));
  QCOMPARE(dialog.startDir, expand(start));
  QCOMPARE(dialog.filters, QStringList{"*.txt"});
  QCOMPARE(m_desktop.messages, QStringList());
}

void HandlersTest::destination_browse_puts_the_chosen_folder_into_txtTo_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<QString>("after");
  QTest::newRow("folder chosen") << "@/out"
                                 << "@/out/";
  QTest::newRow("root") << QDir::rootPath() << QDir::rootPath();
  QTest::newRow("cancel empties the default") << ""
                                              << "";
}

void HandlersTest::destination_browse_puts_the_chosen_folder_into_txtTo() {
  QFETCH(QString, answer);
  QFETCH(QString, after);
  frmSave w(m_dir->path());
  box(w, "txtFrom")->setText("a.txt");
  m_desktop.folderAnswer = expand(answer);
  click(w, "cmdSaveFolder");
  QCOMPARE(box(w, "txtTo")->text(), expand(after));
  QCOMPARE(box(w, "txtFrom")->text(), QStringLiteral("a.txt"));
  QCOMPARE(m_desktop.dialogs.size(), 1);
  const FakeBackend::Dialog& dialog = m_desktop.dialogs[0];
  QCOMPARE(dialog.owner, &w);
  QCOMPARE(dialog.title, QStringLiteral("选择目录"));
  QCOMPARE(dialog.startDir, QDir::toNativeSeparators(QDir::homePath()));
}

void HandlersTest::shop_button_and_link_open_the_shop_page_silently_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<bool>("splitFirst");  // Label1 then shows progress
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<QString>("failure");  // thrown by "url" or "version"
  QTest::newRow("shop button") << "cmdWeb" << false << true << "";
  QTest::newRow("link label") << "Label1" << false << true << "";
  QTest::newRow("link label after a split") << "Label1" << true << true << "";
  QTest::newRow("page refused") << "cmdWeb" << false << false << "";
  QTest::newRow("no browser at all") << "Label1" << false << true << "url";
  QTest::newRow("version query fails") << "cmdWeb" << false << true << "version";
}

// Nothing is shown, nothing in the window changes, nothing is thrown.
void HandlersTest::shop_button_and_link_open_the_shop_page_silently() {
  QFETCH(QString, control);
  QFETCH(bool, splitFirst);
  QFETCH(bool, accepted);
  QFETCH(QString, failure);
  frmSave w(m_dir->path());
  if (splitFirst) {
    box(w, "txtFrom")->setText(expand("@/书/a.txt"));
    box(w, "txtTo")->setText(expand("@/out/"));
    click(w, "Command1");
    m_desktop.messages.clear();
  }
  const QString caption = ::control<CaptionLabel>(w, "Label1")->text();
  m_desktop.urlAccepted = accepted;
  const auto fail = [] { throw std::runtime_error("no browser"); };
  if (failure == "url") m_desktop.whileOpeningUrl = fail;
  if (failure == "version") m_desktop.whileReadingVersion = fail;
  click(w, control.toLatin1().constData());
  QCOMPARE(m_desktop.openedUrls, failure.isEmpty() ? QList<QUrl>{kShopPage} : QList<QUrl>{});
  QCOMPARE(m_desktop.messages, QStringList());
  QCOMPARE(::control<CaptionLabel>(w, "Label1")->text(), caption);
  QCOMPARE(caption != QStringLiteral("www.quorrel-shop.example"), splitFirst);
}

void HandlersTest::browse_during_a_split_changes_only_its_box_data() {
  QTest::addColumn<QString>("fileAnswer");    // "-": the source Browse is not pressed
  QTest::addColumn<QString>("folderAnswer");  // "-": the destination Browse is not pressed
  QTest::addColumn<QString>("txtFrom");       // afterwards
  QTest::addColumn<QString>("txtTo");
  QTest::newRow("source browse") << "@/书/b.txt"
                                 << "-"
                                 << "@/书/b.txt"
                                 << "@/out/";
  QTest::newRow("destination browse") << "-"
                                      << "@/书"
                                      << "@/书/a.txt"
                                      << "@/书/";
  QTest::newRow("both cancelled") << ""
                                  << ""
                                  << ""
                                  << "";
}

// The split keeps the source and destination it read when it started.
void HandlersTest::browse_during_a_split_changes_only_its_box() {
  QFETCH(QString, fileAnswer);
  QFETCH(QString, folderAnswer);
  QFETCH(QString, txtFrom);
  QFETCH(QString, txtTo);
  m_desktop.fileAnswer = expand(fileAnswer);
  m_desktop.folderAnswer = expand(folderAnswer);
  frmSave w(m_dir->path());
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  splitWith(w, expand("@/书/a.txt"), expand("@/out/"), [&] {
    if (fileAnswer != "-") click(w, "cmdOrigleFile");
    if (folderAnswer != "-") click(w, "cmdSaveFolder");
  });
  QCOMPARE(box(w, "txtFrom")->text(), expand(txtFrom));
  QCOMPARE(box(w, "txtTo")->text(), expand(txtTo));
  QCOMPARE(m_desktop.messages, QStringList{text(quorrel::messages::finished)});
  const QStringList pieces{"0000.txt", "0001.txt", "0002.txt", "0003.txt", "0004.txt"};
  QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::Files), pieces);
  QCOMPARE(QDir(m_dir->filePath("书")).entryList(QDir::Files), QStringList{"a.txt"});
  w.close();
}

QTEST_MAIN(HandlersTest)
#include "handlers_test.moc"

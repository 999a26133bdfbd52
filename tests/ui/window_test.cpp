// The window frmSave, driven through its real controls on the offscreen
// platform, with a scripted desktop (tests/support/fake_backend.h) recording
// message boxes.

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <optional>
#include <utility>  // exchange

#include "core/messages.h"
#include "tests/support/fake_backend.h"
#include "ui/application.h"
#include "ui/caption_label.h"
#include "ui/main_window.h"

namespace {

using quorrel::ui::CaptionLabel;
using Pieces = QMap<QString, QByteArray>;  // file name -> bytes

QString text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}
QString progress(int saved) { return text(quorrel::messages::progress(saved)); }
const QString kFinished = text(quorrel::messages::finished);

template <typename T>
T* control(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromLatin1(name));
  if (!found) qFatal("frmSave has no %s named %s", T::staticMetaObject.className(), name);
  return found;
}

QStringList items(QListWidget* list) {
  QStringList all;
  for (int i = 0; i < list->count(); ++i) all << list->item(i)->text();
  return all;
}

int selectedRow(QListWidget* list) {
  const auto selected = list->selectedItems();
  return selected.isEmpty() ? -1 : list->row(selected.first());
}

int pixels(int twips) { return qRound(twips / 15.0); }

QString native(const QString& path) { return QDir::toNativeSeparators(path); }

bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The piece files a run left in `dir`, sorted by name, with their bytes.
Pieces pieces(const QString& dir) {
  Pieces found;
  for (const QString& name : QDir(dir).entryList({QStringLiteral("*.txt")}, QDir::Files))
    if (name != QLatin1String("source.txt")) found[name] = readBytes(dir + '/' + name);
  return found;
}

// `n` chapters "第k章 标题k" with one line of text each, LF line ends.
QByteArray novel(int n) {
  QByteArray bytes;
  for (int k = 1; k <= n; ++k) bytes += QStringLiteral("第%1章 标题%1\n正文%1。\n").arg(k).toUtf8();
  return bytes;
}

QByteArray chapterPiece(int k) {
  return QStringLiteral("第%1章 标题%1\r\n正文%1。\r\n").arg(k).toUtf8();
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();

  void controls_follow_the_control_table_data();
  void controls_follow_the_control_table();
  void window_is_fixed_titled_and_centred();
  void tab_moves_through_the_controls_in_table_order();
  void starts_with_defaults();
  void qt_texts_are_chinese_whatever_the_locale();
  void controls_have_accessible_names_data();
  void controls_have_accessible_names();
  void files_dropped_fill_the_source_or_the_destination_data();
  void files_dropped_fill_the_source_or_the_destination();
  void text_boxes_take_paths_of_any_length();
  void add_appends_the_typed_keyword_data();
  void add_appends_the_typed_keyword();
  void delete_removes_the_selected_keyword_data();
  void delete_removes_the_selected_keyword();
  void enter_and_escape_press_nothing();
  void alt_s_presses_split();
  void splits_a_novel_into_pieces_data();
  void splits_a_novel_into_pieces();
  void a_failed_write_is_reported_with_the_pieces_written();
  void other_controls_during_a_split_leave_it_intact_data();
  void other_controls_during_a_split_leave_it_intact();
  void closing_in_a_long_piece_without_headings_is_seen_quickly();
  void window_shows_the_program_icon();
  void link_label_shows_the_hand_with_its_hot_spot();

 private:
  // The message boxes shown so far.
  QStringList messages() const {
    QStringList shown;
    for (const std::string& message : m_desktop.messages) shown << QString::fromStdString(message);
    return shown;
  }

  quorrel::testing::fake_backend m_desktop;
  std::optional<quorrel::platform::ScopedBackend> m_guard;
  std::optional<QTemporaryDir> m_dir;
};

void WindowTest::initTestCase() {
  // The tests close windows on purpose; that must not end the test program.
  QApplication::setQuitOnLastWindowClosed(false);
  // As the program does; ctest runs this under LANG=C.
  QVERIFY2(quorrel::ui::setUpApplication(*qApp), "no qtbase_zh_CN.qm (qt6-translations-l10n)");
}

void WindowTest::init() {
  m_desktop = quorrel::testing::fake_backend();
  m_desktop.program_folder = QDir::currentPath().toStdString();
  m_guard.emplace(m_desktop);
  m_dir.emplace();
  QVERIFY(m_dir->isValid());
}

void WindowTest::cleanup() {
  m_guard.reset();
  m_dir.reset();
  for (QWidget* top : QApplication::topLevelWidgets())
    QVERIFY2(!top->isVisible(),
             qPrintable(QStringLiteral("left open: %1 \"%2\"")
                            .arg(QString::fromLatin1(top->metaObject()->className()),
                                 top->windowTitle())));
}

// ------------------------------------------------------------------ layout

void WindowTest::controls_follow_the_control_table_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QRect>("twips");  // left, top, width, height

  QTest::newRow("Label1") << "QLabel"
                          << "www.quorrel-shop.example" << QRect(120, 3960, 2250, 180);
  QTest::newRow("Command1") << "QPushButton"
                            << "分割(&S)" << QRect(3120, 3285, 1575, 495);
  QTest::newRow("Label2") << "QLabel"
                          << "原始文件：" << QRect(120, 240, 900, 180);
  QTest::newRow("txtFrom") << "QLineEdit"
                           << "" << QRect(1080, 150, 3255, 375);
  QTest::newRow("cmdOrigleFile") << "QPushButton"
                                 << "浏览..." << QRect(4320, 150, 1095, 375);
  QTest::newRow("Label3") << "QLabel"
                          << "存放目录：" << QRect(120, 690, 900, 180);
  QTest::newRow("txtTo") << "QLineEdit"
                         << "*" << QRect(1080, 600, 3255, 375);
  QTest::newRow("cmdSaveFolder") << "QPushButton"
                                 << "浏览..." << QRect(4320, 600, 1095, 375);
  QTest::newRow("lstKey") << "QListWidget"
                          << "第|章" << QRect(120, 1560, 2895, 2220);
  QTest::newRow("txtKey") << "QLineEdit"
                          << "" << QRect(3120, 1560, 1215, 375);
  QTest::newRow("cmdAdd") << "QPushButton"
                          << "添加" << QRect(4320, 1560, 1095, 375);
  QTest::newRow("cmdDelete") << "QPushButton"
                             << "删除" << QRect(3120, 2160, 1095, 375);
  QTest::newRow("Label4") << "QLabel"
                          << "分割特征词：" << QRect(120, 1200, 1080, 180);
  QTest::newRow("cmdWeb") << "QPushButton"
                          << "充话费/游戏点卡" << QRect(2520, 3923, 2175, 375);
}

void WindowTest::controls_follow_the_control_table() {
  QFETCH(QString, kind);
  QFETCH(QString, caption);
  QFETCH(QRect, twips);
  frmSave w;
  const QByteArray name = QTest::currentDataTag();
  QWidget* c = control<QWidget>(w, name.constData());
  QCOMPARE(c->parentWidget(), &w);
  QVERIFY2(c->inherits(kind.toLatin1()), c->metaObject()->className());

  const QPoint topLeft(pixels(twips.left()), pixels(twips.top()));
  if (auto* label = qobject_cast<QLabel*>(c)) {
    QCOMPARE(label->text(), caption);
    QCOMPARE(label->pos(), topLeft);
    QCOMPARE(label->size(), label->sizeHint());  // sized to its caption
    QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    // The table's label widths are 12 px a full-width character, the size
    // the window's font is chosen for.
    if (caption.front().unicode() >= 0x3000) QCOMPARE(label->width(), pixels(twips.width()));
  } else {
    QCOMPARE(c->geometry(), QRect(topLeft, QSize(pixels(twips.width()), pixels(twips.height()))));
  }
  if (auto* button = qobject_cast<QPushButton*>(c)) {
    QCOMPARE(button->text(), caption);
    QVERIFY(!button->autoDefault());
    QVERIFY(!button->isDefault());
  }
  if (auto* box = qobject_cast<QLineEdit*>(c); box && caption != QLatin1String("*"))
    QCOMPARE(box->text(), caption);
  if (auto* list = qobject_cast<QListWidget*>(c)) {
    QCOMPARE(items(list).join('|'), caption);
    QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
    QVERIFY(!list->isSortingEnabled());
  }
}

void WindowTest::window_is_fixed_titled_and_centred() {
  frmSave w;
  QCOMPARE(w.objectName(), QStringLiteral("frmSave"));
  QCOMPARE(w.windowTitle(), QStringLiteral("Quorrel"));
  QCOMPARE(w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 14);

  const QSize client(pixels(5670), pixels(4380));
  QCOMPARE(w.size(), client);
  QCOMPARE(w.minimumSize(), client);
  QCOMPARE(w.maximumSize(), client);
  const Qt::WindowFlags flags = w.windowFlags();
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(flags & Qt::WindowTitleHint);
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));

  // Labels on the bottom line must not run into the shop button.
  QVERIFY(control<QLabel>(w, "Label1")->geometry().right() < control<QWidget>(w, "cmdWeb")->x());

  // The window font: 9 pt, 12 px full-width characters, with a CJK fallback.
  QCOMPARE(w.font().pointSize(), 9);
  QCOMPARE(QFontMetrics(w.font()).horizontalAdvance(QStringLiteral("章")), 12);
  QVERIFY(w.font().families().contains(QStringLiteral("WenQuanYi Micro Hei")));

  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  const QRect screen = w.screen()->availableGeometry();
  QVERIFY2((w.frameGeometry().center() - screen.center()).manhattanLength() <= 1,
           qPrintable(QStringLiteral("window at %1,%2 on a screen centred at %3,%4")
                          .arg(w.frameGeometry().center().x())
                          .arg(w.frameGeometry().center().y())
                          .arg(screen.center().x())
                          .arg(screen.center().y())));
  w.close();
}

void WindowTest::tab_moves_through_the_controls_in_table_order() {
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  const QStringList expected{"Command1",      "txtFrom", "cmdOrigleFile", "txtTo",
                             "cmdSaveFolder", "lstKey",  "txtKey",        "cmdAdd",
                             "cmdDelete",     "cmdWeb",  "Command1"};
  QStringList seen{QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "-"};
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "-");
  }
  QCOMPARE(seen, expected);
  w.close();
}

// ------------------------------------------------------------------ start-up

// The form's defaults (tested with the form) reach the controls; focus on
// Split, nothing selected.
void WindowTest::starts_with_defaults() {
  m_desktop.program_folder = "/home/李/小说 工具";
  frmSave w(QStringLiteral("/home/李/小说.txt"));
  auto* lstKey = control<QListWidget>(w, "lstKey");
  QCOMPARE(items(lstKey), (QStringList{"第", "章"}));
  QCOMPARE(control<QLineEdit>(w, "txtTo")->text(), QStringLiteral("/home/李/小说 工具/"));
  QCOMPARE(control<QLineEdit>(w, "txtFrom")->text(), QStringLiteral("/home/李/小说.txt"));
  QCOMPARE(control<QLineEdit>(w, "txtKey")->text(), QString());
  QCOMPARE(control<QLabel>(w, "Label1")->text(), QStringLiteral("www.quorrel-shop.example"));

  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QCOMPARE(QApplication::focusWidget(), control<QWidget>(w, "Command1"));
  QCOMPARE(selectedRow(lstKey), -1);
  QVERIFY(m_desktop.messages.empty());
  w.close();
}

// Qt's own texts (buttons of the message box, a text box's context menu) in
// Simplified Chinese under LANG=C, as everything else the window shows.
void WindowTest::qt_texts_are_chinese_whatever_the_locale() {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Quorrel"), QStringLiteral("保存完毕"),
                  QMessageBox::Ok);
  QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));

  frmSave w;
  std::unique_ptr<QMenu> menu(control<QLineEdit>(w, "txtFrom")->createStandardContextMenu());
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text().section(u'\t', 0, 0);
  QCOMPARE(texts, (QStringList{"撤消(&U)", "重做(&R)", "剪切(&T)", "复制(&C)", "粘贴(&P)", "删除",
                               "全选"}));
}

void WindowTest::controls_have_accessible_names_data() {
  QTest::addColumn<QString>("name");  // what a screen reader says
  QTest::newRow("txtFrom") << "原始文件";
  QTest::newRow("txtTo") << "存放目录";
  QTest::newRow("lstKey") << "分割特征词";
  QTest::newRow("txtKey") << "要添加的分割特征词";
  QTest::newRow("cmdOrigleFile") << "选择原始文件";
  QTest::newRow("cmdSaveFolder") << "选择存放目录";
  QTest::newRow("Label1") << "打开充值商店网页";
}

void WindowTest::controls_have_accessible_names() {
  QFETCH(QString, name);
  frmSave w;
  QWidget* c = control<QWidget>(w, QTest::currentDataTag());
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(c);
  QVERIFY(accessible);
  QCOMPARE(accessible->text(QAccessible::Name), name);
  // The labels point at what they name, without taking an access key.
  for (const auto& [label, buddy] : {std::pair{"Label2", "txtFrom"}, std::pair{"Label3", "txtTo"},
                                     std::pair{"Label4", "lstKey"}})
    QCOMPARE(control<QLabel>(w, label)->buddy(), control<QWidget>(w, buddy));
}

void WindowTest::files_dropped_fill_the_source_or_the_destination_data() {
  QTest::addColumn<QString>("target");  // where it is dropped: the window or a control
  QTest::addColumn<QString>("dropped");  // "@" stands for the temporary folder
  QTest::addColumn<QString>("source");   // txtFrom after the drop
  QTest::addColumn<QString>("destination");  // txtTo after the drop, "-" unchanged
  QTest::newRow("file on the window") << "frmSave" << "@/小说 一.txt" << "@/小说 一.txt" << "-";
  QTest::newRow("file on the keyword box") << "txtKey" << "@/小说 一.txt" << "@/小说 一.txt" << "-";
  QTest::newRow("folder on the source box") << "txtFrom" << "@/out" << "" << "@/out/";
  QTest::newRow("folder on the window") << "frmSave" << "@/out/" << "" << "@/out/";
  QTest::newRow("web address: nothing") << "frmSave" << "https://example.org/a.txt" << "" << "-";
}

// As a file manager drops: URLs of local files (with text alongside, which a
// text box would otherwise take).
void WindowTest::files_dropped_fill_the_source_or_the_destination() {
  QFETCH(QString, target);
  QFETCH(QString, dropped);
  QFETCH(QString, source);
  QFETCH(QString, destination);
  const QString dir = m_dir->path();
  QVERIFY(writeBytes(dir + "/小说 一.txt", novel(1)));
  QVERIFY(QDir(dir).mkdir("out"));
  dropped.replace('@', dir);
  source.replace('@', native(dir));
  destination.replace('@', native(dir));

  m_desktop.program_folder = dir.toStdString();
  frmSave w;
  const QString startDestination = control<QLineEdit>(w, "txtTo")->text();
  QWidget* on = target == "frmSave" ? &w : control<QWidget>(w, qPrintable(target));
  const QUrl url = dropped.startsWith('/') ? QUrl::fromLocalFile(dropped) : QUrl(dropped);
  QMimeData data;
  data.setUrls({url});
  data.setText(url.toString());
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(on, &enter);
  QCOMPARE(enter.isAccepted(), url.isLocalFile());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(on, &drop);

  QCOMPARE(control<QLineEdit>(w, "txtFrom")->text(), source);
  QCOMPARE(control<QLineEdit>(w, "txtTo")->text(),
           destination == "-" ? startDestination : destination);
  QCOMPARE(control<QLineEdit>(w, "txtKey")->text(), QString());
}

void WindowTest::text_boxes_take_paths_of_any_length() {
  frmSave w;
  const QString longPath = QStringLiteral("/深/") + QString(40000, 'a');
  for (const char* name : {"txtFrom", "txtTo", "txtKey"}) {
    auto* box = control<QLineEdit>(w, name);
    box->setText(longPath);
    QCOMPARE(box->text().size(), longPath.size());
  }
}

// ------------------------------------------------------------------ keywords

void WindowTest::add_appends_the_typed_keyword_data() {
  QTest::addColumn<QStringList>("typed");  // one Add press after each text
  QTest::addColumn<int>("selected");       // row selected before the presses
  QTest::addColumn<QStringList>("list");
  QTest::newRow("empty box adds nothing") << QStringList{""} << -1 << QStringList{"第", "章"};
  QTest::newRow("spaces are a keyword") << QStringList{"  "} << -1 << QStringList{"第", "章", "  "};
  QTest::newRow("kept as typed") << QStringList{" 卷 "} << -1 << QStringList{"第", "章", " 卷 "};
  QTest::newRow("same twice, twice")
      << QStringList{"回", "回"} << -1 << QStringList{"第", "章", "回", "回"};
  QTest::newRow("selection stays") << QStringList{"节"} << 1 << QStringList{"第", "章", "节"};
}

void WindowTest::add_appends_the_typed_keyword() {
  QFETCH(QStringList, typed);
  QFETCH(int, selected);
  QFETCH(QStringList, list);
  frmSave w;
  auto* lstKey = control<QListWidget>(w, "lstKey");
  auto* txtKey = control<QLineEdit>(w, "txtKey");
  if (selected >= 0) lstKey->item(selected)->setSelected(true);
  for (const QString& keyword : typed) {
    txtKey->setText(keyword);
    QTest::mouseClick(control<QWidget>(w, "cmdAdd"), Qt::LeftButton);
    QCOMPARE(txtKey->text(), keyword);  // the box keeps its text
  }
  QCOMPARE(items(lstKey), list);
  QCOMPARE(selectedRow(lstKey), selected);
  QVERIFY(m_desktop.messages.empty());
}

void WindowTest::delete_removes_the_selected_keyword_data() {
  QTest::addColumn<QStringList>("start");
  QTest::addColumn<QList<int>>("deleted");  // row selected before each press, -1 none
  QTest::addColumn<QStringList>("list");
  const QStringList four{"第", "章", "回", "节"};
  QTest::newRow("nothing selected") << four << QList<int>{-1} << four;
  QTest::newRow("first") << four << QList<int>{0} << QStringList{"章", "回", "节"};
  QTest::newRow("middle keeps order") << four << QList<int>{1} << QStringList{"第", "回", "节"};
  QTest::newRow("last") << four << QList<int>{3} << QStringList{"第", "章", "回"};
  QTest::newRow("then nothing selected")
      << four << QList<int>{2, -1} << QStringList{"第", "章", "节"};
  QTest::newRow("all") << four << QList<int>{0, 0, 0, 0} << QStringList{};
}

void WindowTest::delete_removes_the_selected_keyword() {
  QFETCH(QStringList, start);
  QFETCH(QList<int>, deleted);
  QFETCH(QStringList, list);
  frmSave w;
  auto* lstKey = control<QListWidget>(w, "lstKey");
  auto* txtKey = control<QLineEdit>(w, "txtKey");
  lstKey->clear();
  for (const QString& keyword : start) {
    txtKey->setText(keyword);
    QTest::mouseClick(control<QWidget>(w, "cmdAdd"), Qt::LeftButton);
  }
  for (int row : deleted) {
    if (row >= 0) {
      const QRect cell = lstKey->visualItemRect(lstKey->item(row));
      QTest::mouseClick(lstKey->viewport(), Qt::LeftButton, {}, cell.center());
      QCOMPARE(selectedRow(lstKey), row);
    }
    QTest::mouseClick(control<QWidget>(w, "cmdDelete"), Qt::LeftButton);
    QCOMPARE(selectedRow(lstKey), -1);  // no other item is selected afterwards
  }
  QCOMPARE(items(lstKey), list);
}

void WindowTest::enter_and_escape_press_nothing() {
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  auto* txtKey = control<QLineEdit>(w, "txtKey");
  txtKey->setFocus();
  QTest::keyClicks(txtKey, QStringLiteral("juan"));
  QTest::keyClick(txtKey, Qt::Key_Return);
  QTest::keyClick(txtKey, Qt::Key_Enter);
  QTest::keyClick(txtKey, Qt::Key_Escape);
  QCOMPARE(items(control<QListWidget>(w, "lstKey")), (QStringList{"第", "章"}));
  QCOMPARE(messages(), QStringList());  // Split was not pressed either
  QVERIFY(w.isVisible());
  w.close();
}

void WindowTest::alt_s_presses_split() {
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
  // A shortcut presses the button visibly, and clicks once it is released.
  QTRY_COMPARE(messages(), QStringList{text(quorrel::messages::no_source)});
  w.close();
}

// ------------------------------------------------------------------ split

void WindowTest::splits_a_novel_into_pieces_data() {
  QTest::addColumn<QByteArray>("source");
  QTest::addColumn<QString>("prefix");  // destination after the folder
  QTest::addColumn<QStringList>("captions");
  QTest::addColumn<Pieces>("expected");

  QTest::newRow("three chapters") << novel(3) << "/"
                                  << QStringList{progress(0), progress(1), progress(2), progress(3)}
                                  << Pieces{{"0000.txt", chapterPiece(1)},
                                            {"0001.txt", chapterPiece(2)},
                                            {"0002.txt", chapterPiece(3)}};
  QTest::newRow("preamble, CR LF, blank lines")
      << QByteArray("序言\r\n \r\n第一章 起\r\n\r\n甲\r\n　\t\r\n第二章 承\r\n乙") << "/"
      << QStringList{progress(1), progress(2), progress(3)}
      << Pieces{{"0000.txt", "\r\n序言\r\n"},
                {"0001.txt", "第一章 起\r\n甲\r\n"},
                {"0002.txt", "第二章 承\r\n乙\r\n"}};
  QTest::newRow("no heading") << QByteArray("只有\n正文\n") << "/" << QStringList{progress(1)}
                              << Pieces{{"0000.txt", "\r\n只有\r\n正文\r\n"}};
  QTest::newRow("destination as prefix")
      << novel(2) << "/out" << QStringList{progress(0), progress(1), progress(2)}
      << Pieces{{"out0000.txt", chapterPiece(1)}, {"out0001.txt", chapterPiece(2)}};
  QStringList counts;
  Pieces all;
  for (int k = 1; k <= 600; ++k) {
    counts << progress(k - 1);
    all[QStringLiteral("%1.txt").arg(k - 1, 4, 10, QChar('0'))] = chapterPiece(k);
  }
  QTest::newRow("many chapters") << novel(600) << "/" << (counts << progress(600)) << all;
}

// Progress is shown at the first heading, then at most once a frame, and the
// total at the end: the captions seen are those of the run, in order, up to
// the total.
void WindowTest::splits_a_novel_into_pieces() {
  QFETCH(QByteArray, source);
  QFETCH(QString, prefix);
  QFETCH(QStringList, captions);
  QFETCH(Pieces, expected);
  const QString sourcePath = m_dir->filePath("source.txt");
  QVERIFY(writeBytes(sourcePath, source));

  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  auto* label1 = control<CaptionLabel>(w, "Label1");
  QStringList seen;
  connect(label1, &CaptionLabel::captionChanged, this,
          [&](const QString& caption) { seen << caption; });
  control<QLineEdit>(w, "txtFrom")->setText(native(sourcePath));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->path() + prefix));
  QTest::mouseClick(control<QWidget>(w, "Command1"), Qt::LeftButton);

  QCOMPARE(messages(), QStringList{kFinished});
  QCOMPARE(pieces(m_dir->path()), expected);
  QVERIFY(!seen.isEmpty());
  QCOMPARE(seen.last(), captions.last());
  // The count is of pieces on disk, which may lag the headings read: at the
  // first heading it may still be 0.
  QStringList allowed = captions;
  if (allowed.first() != progress(0)) allowed.prepend(progress(0));
  qsizetype at = 0;
  for (const QString& caption : seen) {
    at = allowed.indexOf(caption, at);
    QVERIFY2(at >= 0,
             qPrintable(QStringLiteral("%1 out of order in %2").arg(caption, seen.join(' '))));
    ++at;
  }
  // The label fits its last caption, its corner in place.
  QCOMPARE(label1->text(), progress(int(expected.size())));
  QCOMPARE(label1->pos(), QPoint(pixels(120), pixels(3960)));
  QCOMPARE(label1->size(), label1->sizeHint());
  w.close();
}

// The caption ends on what reached the disk, not on what was counted at
// headings before the failure.
void WindowTest::a_failed_write_is_reported_with_the_pieces_written() {
  const QString sourcePath = m_dir->filePath("source.txt");
  QVERIFY(writeBytes(sourcePath, novel(600)));
  const QString out = m_dir->filePath("out");
  QVERIFY(QDir().mkpath(out + "/0300.txt"));  // piece 300 cannot be created

  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  control<QLineEdit>(w, "txtFrom")->setText(native(sourcePath));
  control<QLineEdit>(w, "txtTo")->setText(native(out + "/"));
  QTest::mouseClick(control<QWidget>(w, "Command1"), Qt::LeftButton);

  QCOMPARE(messages(),
           QStringList{QStringLiteral("写入文件“%1”失败：Is a directory").arg(native(out + "/0300.txt"))});
  QCOMPARE(control<CaptionLabel>(w, "Label1")->text(), progress(300));
  QCOMPARE(pieces(out).size(), 300);
  w.close();
}

using Action = std::function<void(frmSave&)>;
Q_DECLARE_METATYPE(Action)

namespace {

// Presses Split and runs `during` at the first heading, where the window
// lets events through.
void splitWith(frmSave& w, const QString& source, const QString& destination,
               const Action& during) {
  auto* label1 = control<CaptionLabel>(w, "Label1");
  bool done = false;
  const auto hook = QObject::connect(label1, &CaptionLabel::captionChanged, label1, [&] {
    if (!std::exchange(done, true)) during(w);
  });
  control<QLineEdit>(w, "txtFrom")->setText(source);
  control<QLineEdit>(w, "txtTo")->setText(destination);
  control<QPushButton>(w, "Command1")->click();
  QObject::disconnect(hook);
}

}  // namespace

void WindowTest::other_controls_during_a_split_leave_it_intact_data() {
  QTest::addColumn<Action>("during");
  QTest::newRow("Split ten times more") << Action([](frmSave& w) {
    for (int i = 0; i < 10; ++i) QTest::mouseClick(control<QWidget>(w, "Command1"), Qt::LeftButton);
  });
  QTest::newRow("paths emptied") << Action([](frmSave& w) {
    control<QLineEdit>(w, "txtFrom")->clear();
    control<QLineEdit>(w, "txtTo")->clear();
  });
  QTest::newRow("every other button") << Action([](frmSave& w) {
    for (const char* name : {"cmdOrigleFile", "cmdSaveFolder", "cmdWeb", "cmdAdd", "cmdDelete"})
      QTest::mouseClick(control<QWidget>(w, name), Qt::LeftButton);
    QTest::mouseClick(control<QWidget>(w, "Label1"), Qt::LeftButton);
  });
}

// Nothing is disabled while a split runs; whatever is pressed meanwhile, the
// run ends with the same pieces and one message.
void WindowTest::other_controls_during_a_split_leave_it_intact() {
  QFETCH(Action, during);
  QVERIFY(writeBytes(m_dir->filePath("source.txt"), novel(5)));
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  splitWith(w, native(m_dir->filePath("source.txt")), native(m_dir->path() + '/'), during);
  QCOMPARE(messages(), QStringList{kFinished});
  Pieces expected;
  for (int k = 1; k <= 5; ++k) expected[QStringLiteral("000%1.txt").arg(k - 1)] = chapterPiece(k);
  QCOMPARE(pieces(m_dir->path()), expected);
  w.close();
}

// The window handles its events also inside one long piece, by the clock:
// a close posted before Split is seen at the first of them (within a tenth
// of a second of work) and stops the run, which removes the piece it had
// begun. The bound is generous; the run it cuts short would take longer.
void WindowTest::closing_in_a_long_piece_without_headings_is_seen_quickly() {
  {
    QFile file(m_dir->filePath("source.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QByteArray lines = QByteArray("正文没有标题的一行\n").repeated(1 << 16);
    for (int i = 0; i < 32; ++i) QVERIFY(file.write(lines) == lines.size());  // 56 MiB
  }
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QElapsedTimer sinceClose;
  QTimer::singleShot(0, &w, [&] {
    sinceClose.start();
    w.close();
  });
  control<QLineEdit>(w, "txtFrom")->setText(native(m_dir->filePath("source.txt")));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->path() + "/"));
  control<QPushButton>(w, "Command1")->click();
  if (!sinceClose.isValid()) QSKIP("the whole split took less than the time between events");
  QVERIFY2(sinceClose.elapsed() < 2000, qPrintable(QString::number(sinceClose.elapsed())));
  QVERIFY(!w.isVisible());
  QCOMPARE(messages(), QStringList());
  QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("0*.txt")}, QDir::Files), QStringList());
}

// ------------------------------------------------------------------ artwork

void WindowTest::window_shows_the_program_icon() {
  frmSave w;
  const QList<QSize> sizes = w.windowIcon().availableSizes();
  for (int side : {16, 32, 48, 128})
    QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
}

void WindowTest::link_label_shows_the_hand_with_its_hot_spot() {
  frmSave w;
  const QCursor cursor = control<QWidget>(w, "Label1")->cursor();
  QCOMPARE(cursor.shape(), Qt::BitmapCursor);
  QCOMPARE(cursor.hotSpot(), QPoint(6, 0));
  const QImage hand = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
  QCOMPARE(hand.size(), QSize(32, 32));
  QCOMPARE(qAlpha(hand.pixel(6, 0)), 255);  // the hot spot is on the fingertip
  QCOMPARE(qAlpha(hand.pixel(31, 31)), 0);
  for (const char* other : {"Label2", "Label3", "Label4", "Command1"})
    QVERIFY2(control<QWidget>(w, other)->cursor().shape() != Qt::BitmapCursor, other);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"

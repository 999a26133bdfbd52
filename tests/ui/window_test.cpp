// The window frmSave, driven through its real controls on the offscreen
// platform, with a scripted desktop (tests/support/fake_backend.h) recording
// message boxes.

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <utility>  // pair
#include <vector>

#include "core/messages.h"
#include "tests/support/fake_backend.h"
#include "ui/qt/application.h"
#include "ui/qt/caption_label.h"
#include "ui/qt/main_window.h"

namespace {

using quorrel::ui::CaptionLabel;

QString text(std::string_view utf8) { return QString::fromUtf8(utf8.data(), qsizetype(utf8.size())); }
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

// `n` chapters "第k章 标题k" with one line of text each, LF line ends.
QByteArray novel(int n) {
  QByteArray bytes;
  for (int k = 1; k <= n; ++k) bytes += QStringLiteral("第%1章 标题%1\n正文%1。\n").arg(k).toUtf8();
  return bytes;
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
  void focus_starts_on_split_and_tab_follows_the_table();
  void qt_texts_are_chinese_whatever_the_locale();
  void controls_have_accessible_names_data();
  void controls_have_accessible_names();
  void files_dropped_fill_the_source_or_the_destination_data();
  void files_dropped_fill_the_source_or_the_destination();
  void text_boxes_take_paths_of_any_length();
  void enter_and_escape_press_nothing_and_clicks_edit_the_list();
  void alt_s_presses_split();
  void check_boxes_answer_alt_t_and_alt_n();
  void browse_shop_and_link_reach_the_desktop();
  void split_shows_each_caption_on_the_label();
  void closing_during_a_split_stops_it();
  void closing_in_the_middle_of_a_long_piece_removes_it_data();
  void closing_in_the_middle_of_a_long_piece_removes_it();
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
                            .arg(QString::fromLatin1(top->metaObject()->className()), top->windowTitle())));
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
  QTest::newRow("chkByForm") << "QCheckBox"
                             << "按标题格式分章(&T)" << QRect(3120, 2565, 2295, 300);
  QTest::newRow("chkTitleNames") << "QCheckBox"
                                 << "用章节标题命名(&N)" << QRect(3120, 2910, 2295, 300);
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
  if (auto* box = qobject_cast<QCheckBox*>(c)) {
    QCOMPARE(box->text(), caption);
    QVERIFY(!box->isChecked());
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
  QCOMPARE(w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 16);

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

// Opened with a file, shown with the focus on Split and nothing selected.
void WindowTest::focus_starts_on_split_and_tab_follows_the_table() {
  frmSave w(QStringLiteral("/home/李/小说.txt"));
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  QCOMPARE(control<QLineEdit>(w, "txtFrom")->text(), QStringLiteral("/home/李/小说.txt"));
  QCOMPARE(selectedRow(control<QListWidget>(w, "lstKey")), -1);
  const QStringList expected{"Command1",      "txtFrom", "cmdOrigleFile", "txtTo",     "cmdSaveFolder",
                             "lstKey",        "txtKey",  "cmdAdd",        "cmdDelete", "chkByForm",
                             "chkTitleNames", "cmdWeb",  "Command1"};
  QStringList seen{QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "-"};
  for (int i = 1; i < expected.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    seen << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "-");
  }
  QCOMPARE(seen, expected);
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
  QCOMPARE(texts, (QStringList{"撤消(&U)", "重做(&R)", "剪切(&T)", "复制(&C)", "粘贴(&P)", "删除", "全选"}));
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
  for (const auto& [label, buddy] :
       {std::pair{"Label2", "txtFrom"}, std::pair{"Label3", "txtTo"}, std::pair{"Label4", "lstKey"}})
    QCOMPARE(control<QLabel>(w, label)->buddy(), control<QWidget>(w, buddy));
}

void WindowTest::files_dropped_fill_the_source_or_the_destination_data() {
  QTest::addColumn<QString>("target");       // where it is dropped: the window or a control
  QTest::addColumn<QString>("dropped");      // "@" stands for the temporary folder
  QTest::addColumn<QString>("source");       // txtFrom after the drop
  QTest::addColumn<QString>("destination");  // txtTo after the drop, "-" unchanged
  QTest::newRow("file on the window") << "frmSave"
                                      << "@/小说 一.txt"
                                      << "@/小说 一.txt"
                                      << "-";
  QTest::newRow("file on the keyword box") << "txtKey"
                                           << "@/小说 一.txt"
                                           << "@/小说 一.txt"
                                           << "-";
  QTest::newRow("folder on the source box") << "txtFrom"
                                            << "@/out"
                                            << ""
                                            << "@/out/";
  QTest::newRow("folder on the window") << "frmSave"
                                        << "@/out/"
                                        << ""
                                        << "@/out/";
  QTest::newRow("web address: nothing") << "frmSave"
                                        << "https://example.org/a.txt"
                                        << ""
                                        << "-";
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
  QCOMPARE(control<QLineEdit>(w, "txtTo")->text(), destination == "-" ? startDestination : destination);
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

// Enter and Escape in the keyword box press nothing. A click on a row selects
// it for Delete, which leaves nothing selected, so a second Delete removes
// nothing more.
void WindowTest::enter_and_escape_press_nothing_and_clicks_edit_the_list() {
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  auto* txtKey = control<QLineEdit>(w, "txtKey");
  auto* lstKey = control<QListWidget>(w, "lstKey");
  txtKey->setFocus();
  QTest::keyClicks(txtKey, QStringLiteral("juan"));
  QTest::keyClick(txtKey, Qt::Key_Return);
  QTest::keyClick(txtKey, Qt::Key_Enter);
  QTest::keyClick(txtKey, Qt::Key_Escape);
  QCOMPARE(items(lstKey), (QStringList{"第", "章"}));
  QCOMPARE(messages(), QStringList());  // Split was not pressed either
  QVERIFY(w.isVisible());

  QTest::mouseClick(control<QWidget>(w, "cmdAdd"), Qt::LeftButton);
  QTest::mouseClick(lstKey->viewport(), Qt::LeftButton, {}, lstKey->visualItemRect(lstKey->item(1)).center());
  QCOMPARE(selectedRow(lstKey), 1);
  for (int press = 0; press < 2; ++press) {
    QTest::mouseClick(control<QWidget>(w, "cmdDelete"), Qt::LeftButton);
    QCOMPARE(selectedRow(lstKey), -1);
  }
  QCOMPARE(items(lstKey), (QStringList{"第", "juan"}));
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

// Alt+T and Alt+N tick the boxes and reach the form: the keyword controls
// greyed out while 按标题格式分章 is ticked, and a split of a classic by its
// headings' form, its pieces named by their titles; Alt+T again clears it.
void WindowTest::check_boxes_answer_alt_t_and_alt_n() {
  const QString sourcePath = m_dir->filePath("source.txt");
  QVERIFY(writeBytes(sourcePath, QStringLiteral("第一回 风起\n甲\n第二回 云涌\n乙\n").toUtf8()));
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowActive(&w));
  const QList<QWidget*> keywords{control<QWidget>(w, "lstKey"), control<QWidget>(w, "txtKey"),
                                 control<QWidget>(w, "cmdAdd"), control<QWidget>(w, "cmdDelete")};
  const auto greyed = [&] {
    return std::all_of(keywords.begin(), keywords.end(), [](QWidget* c) { return !c->isEnabled(); });
  };
  control<QLineEdit>(w, "txtFrom")->setText(native(sourcePath));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->filePath("out/")));
  QTest::keyClick(&w, Qt::Key_T, Qt::AltModifier);
  QTRY_VERIFY(control<QCheckBox>(w, "chkByForm")->isChecked());
  QVERIFY(greyed());
  QTest::keyClick(&w, Qt::Key_N, Qt::AltModifier);
  QTRY_VERIFY(control<QCheckBox>(w, "chkTitleNames")->isChecked());
  QTest::keyClick(&w, Qt::Key_S, Qt::AltModifier);
  QTRY_COMPARE(messages(), QStringList{kFinished});
  QCOMPARE(QDir(m_dir->filePath("out")).entryList(QDir::Files),
           (QStringList{"0000 第一回 风起.txt", "0001 第二回 云涌.txt"}));
  QTest::keyClick(&w, Qt::Key_T, Qt::AltModifier);
  QTRY_VERIFY(!control<QCheckBox>(w, "chkByForm")->isChecked());
  QVERIFY(std::none_of(keywords.begin(), keywords.end(), [](QWidget* c) { return !c->isEnabled(); }));
  w.close();
}

// Each click reaches the form, which asks the desktop: the two dialogs in
// turn, then the shop's page from the button and from the link.
void WindowTest::browse_shop_and_link_reach_the_desktop() {
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  for (const char* name : {"cmdOrigleFile", "cmdSaveFolder", "cmdWeb", "Label1"})
    QTest::mouseClick(control<QWidget>(w, name), Qt::LeftButton);
  QCOMPARE(m_desktop.dialogs.size(), std::size_t{2});
  QCOMPARE(m_desktop.dialogs[0].csidl, -1);  // the open-file dialog first
  QCOMPARE(m_desktop.dialogs[1].title, std::string("选择目录"));
  QCOMPARE(m_desktop.opened.size(), std::size_t{2});
  w.close();
}

// ------------------------------------------------------------------ split

// Progress is shown at the first heading, then at most once a frame, and the
// total at the end: the label shows counts of the run in order, up to the
// total, and fits the last one with its corner in place.
void WindowTest::split_shows_each_caption_on_the_label() {
  constexpr int chapters = 600;
  const QString sourcePath = m_dir->filePath("source.txt");
  QVERIFY(writeBytes(sourcePath, novel(chapters)));
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  auto* label1 = control<CaptionLabel>(w, "Label1");
  QStringList seen;
  connect(label1, &CaptionLabel::captionChanged, this, [&](const QString& caption) { seen << caption; });
  control<QLineEdit>(w, "txtFrom")->setText(native(sourcePath));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->path() + '/'));
  QTest::mouseClick(control<QWidget>(w, "Command1"), Qt::LeftButton);

  QCOMPARE(messages(), QStringList{kFinished});
  QVERIFY(!seen.isEmpty());
  QCOMPARE(seen.last(), progress(chapters));
  QStringList counts;
  for (int k = 0; k <= chapters; ++k) counts << progress(k);
  qsizetype at = 0;
  for (const QString& caption : seen) {
    at = counts.indexOf(caption, at);
    QVERIFY2(at >= 0, qPrintable(QStringLiteral("%1 out of order in %2").arg(caption, seen.join(' '))));
    ++at;
  }
  QCOMPARE(label1->text(), progress(chapters));
  QCOMPARE(label1->pos(), QPoint(pixels(120), pixels(3960)));
  QCOMPARE(label1->size(), label1->sizeHint());
  w.close();
}

// A close posted before Split is seen where the run first lets events
// through: the window stays until the run has stopped, then closes without a
// message, and the piece begun is removed.
void WindowTest::closing_during_a_split_stops_it() {
  QVERIFY(writeBytes(m_dir->filePath("source.txt"), novel(5)));
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QTimer::singleShot(0, &w, &QWidget::close);
  control<QLineEdit>(w, "txtFrom")->setText(native(m_dir->filePath("source.txt")));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->path() + "/"));
  control<QPushButton>(w, "Command1")->click();
  QVERIFY(!w.isVisible());
  QCOMPARE(messages(), QStringList());
  QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("0*.txt")}, QDir::Files), QStringList());
}

void WindowTest::closing_in_the_middle_of_a_long_piece_removes_it_data() {
  QTest::addColumn<int>("busy");  // threads spinning on the machine's cores meanwhile
  QTest::newRow("quiet machine") << 0;
  QTest::newRow("busy machine") << 3;
}

// A close asked once the long second piece has begun on disk is seen inside
// that piece: the window closes without a message, the piece is removed and
// the first stays whole. The close comes from the first events the run lets
// through after the piece appeared, whatever the time that took.
void WindowTest::closing_in_the_middle_of_a_long_piece_removes_it() {
  QFETCH(int, busy);
  const QByteArray line = QStringLiteral("正文正文正文正文正文正文正文正文正文正文").toUtf8();
  constexpr qsizetype bodyBytes = 48 << 20;
  QByteArray source = QStringLiteral("第一章\n甲\n第二章\n").toUtf8();
  source.reserve(source.size() + bodyBytes + line.size() + 1);
  qint64 longPiece = QStringLiteral("第二章").toUtf8().size() + 2;
  while (source.size() < bodyBytes) {
    source += line + '\n';
    longPiece += line.size() + 2;
  }
  const QString sourcePath = m_dir->filePath("source.txt");
  QVERIFY(writeBytes(sourcePath, source));
  source.clear();

  std::atomic<bool> done{false};
  std::vector<std::thread> spinners;
  for (int i = 0; i < busy; ++i)
    spinners.emplace_back([&done] {
      while (!done.load(std::memory_order_relaxed)) {
      }
    });
  frmSave w;
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  control<QLineEdit>(w, "txtFrom")->setText(native(sourcePath));
  control<QLineEdit>(w, "txtTo")->setText(native(m_dir->path() + '/'));
  qint64 closedAt = -1;  // bytes of the long piece on disk when the close was asked
  QTimer watch;
  connect(&watch, &QTimer::timeout, this, [&] {
    const qint64 size = QFileInfo(m_dir->filePath("0001.txt")).size();
    if (size <= 0) return;
    closedAt = size;
    watch.stop();
    w.close();
  });
  watch.start(0);
  control<QPushButton>(w, "Command1")->click();
  done = true;
  for (std::thread& spinner : spinners) spinner.join();

  QVERIFY(!w.isVisible());
  QCOMPARE(messages(), QStringList());
  QVERIFY2(closedAt > 0 && closedAt < longPiece,
           qPrintable(QStringLiteral("closed at %1 of %2 bytes").arg(closedAt).arg(longPiece)));
  QCOMPARE(QDir(m_dir->path()).entryList({QStringLiteral("0*.txt")}, QDir::Files), QStringList{"0000.txt"});
  QFile first(m_dir->filePath("0000.txt"));
  QVERIFY(first.open(QIODevice::ReadOnly));
  QCOMPARE(first.readAll(), QStringLiteral("第一章\r\n甲\r\n").toUtf8());
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

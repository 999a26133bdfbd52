#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>  // font(), the platform UI font
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <exception>
#include <limits>
#include <string_view>

#include "core/checks.h"
#include "core/messages.h"
#include "platform/backend.h"
#include "platform/com_dlg.h"
#include "platform/system.h"
#include "ui/caption_label.h"

// The resources are linked into a static library; registering them must
// happen outside any namespace.
static void registerResources() { Q_INIT_RESOURCE(quorrel); }

namespace {

using quorrel::ui::CaptionLabel;

constexpr int kTwipsPerPixel = 15;
constexpr int kFrameMs = 16;  // progress repaints at most this often

// The page the shop button opens; Label1 shows the shop's short address.
constexpr auto kShopPage = "https://www.quorrel-shop.example/recharge";

constexpr int pixels(int twips) { return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel; }

// Client area and control rectangles, in twips: left, top, width, height.
constexpr int kClientWidth = 5670;
constexpr int kClientHeight = 4380;

struct Twips {
  int left, top, width, height;
};

void place(QWidget* control, const char* name, Twips t) {
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(pixels(t.left), pixels(t.top), pixels(t.width), pixels(t.height));
}

CaptionLabel* label(QWidget* parent, const char* name, const QString& caption, Twips t) {
  auto* control = new CaptionLabel(caption, parent);
  place(control, name, t);
  control->adjustSize();  // a label's size is its caption's; left and top stay
  return control;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, Twips t) {
  auto* control = new QPushButton(caption, parent);
  place(control, name, t);
  control->setAutoDefault(false);  // no default button: Enter presses nothing
  return control;
}

QLineEdit* textBox(QWidget* parent, const char* name, Twips t) {
  auto* control = new QLineEdit(parent);
  place(control, name, t);
  control->setMaxLength(std::numeric_limits<int>::max());  // no length limit
  return control;
}

// The platform's UI font at 9 pt, with CJK families to fall back on so that
// Chinese is drawn with simplified glyph shapes, whatever the platform font.
QFont windowFont() {
  QFont font = QGuiApplication::font();
  font.setPointSize(9);
  font.setFamilies({font.family(), QStringLiteral("WenQuanYi Micro Hei"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                    QStringLiteral("Microsoft YaHei UI"), QStringLiteral("Microsoft YaHei")});
  return font;
}

// The hand over the link label. Qt's cursor-file reader takes the image but
// not the hot spot, so that is read from the file's directory entry (the
// planes and bit-count fields of a cursor hold x and y).
QCursor handCursor() {
  QFile file(QStringLiteral(":/hand.cur"));
  if (!file.open(QIODevice::ReadOnly)) return QCursor(Qt::PointingHandCursor);
  const QByteArray data = file.readAll();
  const QImage image = QImage::fromData(data, "ICO");
  if (image.isNull() || data.size() < 14) return QCursor(Qt::PointingHandCursor);
  auto u16 = [&](int at) {
    return static_cast<unsigned char>(data[at]) | static_cast<unsigned char>(data[at + 1]) << 8;
  };
  return QCursor(QPixmap::fromImage(image), u16(10), u16(12));
}

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

frmSave::frmSave(const QString& programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_programFolder(programFolder) {
  static const bool registered = (registerResources(), true);
  (void)registered;

  setObjectName(QStringLiteral("frmSave"));
  setWindowTitle(QStringLiteral("Quorrel"));
  setWindowIcon(QIcon(QStringLiteral(":/quorrel.ico")));
  setFixedSize(pixels(kClientWidth), pixels(kClientHeight));
  setFont(windowFont());

  // The control table, in tab order.
  Label1 =
      label(this, "Label1", QStringLiteral("www.quorrel-shop.example"), {120, 3960, 2250, 180});
  Command1 = button(this, "Command1", QStringLiteral("分割(&S)"), {3120, 3285, 1575, 495});
  Label2 = label(this, "Label2", QStringLiteral("原始文件："), {120, 240, 900, 180});
  txtFrom = textBox(this, "txtFrom", {1080, 150, 3255, 375});
  cmdOrigleFile = button(this, "cmdOrigleFile", QStringLiteral("浏览..."), {4320, 150, 1095, 375});
  Label3 = label(this, "Label3", QStringLiteral("存放目录："), {120, 690, 900, 180});
  txtTo = textBox(this, "txtTo", {1080, 600, 3255, 375});
  cmdSaveFolder = button(this, "cmdSaveFolder", QStringLiteral("浏览..."), {4320, 600, 1095, 375});
  lstKey = new QListWidget(this);
  place(lstKey, "lstKey", {120, 1560, 2895, 2220});
  txtKey = textBox(this, "txtKey", {3120, 1560, 1215, 375});
  cmdAdd = button(this, "cmdAdd", QStringLiteral("添加"), {4320, 1560, 1095, 375});
  cmdDelete = button(this, "cmdDelete", QStringLiteral("删除"), {3120, 2160, 1095, 375});
  Label4 = label(this, "Label4", QStringLiteral("分割特征词："), {120, 1200, 1080, 180});
  cmdWeb = button(this, "cmdWeb", QStringLiteral("充话费/游戏点卡"), {2520, 3923, 2175, 375});

  const QList<QWidget*> tabOrder{Command1, txtFrom, cmdOrigleFile, txtTo,     cmdSaveFolder,
                                 lstKey,   txtKey,  cmdAdd,        cmdDelete, cmdWeb};
  for (qsizetype i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

  lstKey->setSelectionMode(QAbstractItemView::SingleSelection);
  lstKey->setSortingEnabled(false);
  Label1->setCursor(handCursor());

  // Every change of the list's model is a new keyword list for a running split.
  QAbstractItemModel* keys = lstKey->model();
  auto bump = [this] { ++m_keywordsVersion; };
  connect(keys, &QAbstractItemModel::rowsInserted, this, bump);
  connect(keys, &QAbstractItemModel::rowsRemoved, this, bump);
  connect(keys, &QAbstractItemModel::rowsMoved, this, bump);
  connect(keys, &QAbstractItemModel::dataChanged, this, bump);
  connect(keys, &QAbstractItemModel::modelReset, this, bump);
  connect(keys, &QAbstractItemModel::layoutChanged, this, bump);

  connect(Command1, &QPushButton::clicked, this, &frmSave::Command1_Click);
  connect(cmdAdd, &QPushButton::clicked, this, &frmSave::cmdAdd_Click);
  connect(cmdDelete, &QPushButton::clicked, this, &frmSave::cmdDelete_Click);
  connect(cmdOrigleFile, &QPushButton::clicked, this, &frmSave::cmdOrigleFile_Click);
  connect(cmdSaveFolder, &QPushButton::clicked, this, &frmSave::cmdSaveFolder_Click);
  connect(cmdWeb, &QPushButton::clicked, this, &frmSave::cmdWeb_Click);
  connect(Label1, &CaptionLabel::clicked, this, &frmSave::Label1_Click);

  Form_Load();
}

// The controls outlive this destructor (QWidget's deletes them), and the list
// reports its items' removal then: nothing of frmSave may hear it.
frmSave::~frmSave() { lstKey->model()->disconnect(this); }

void frmSave::showEvent(QShowEvent* event) {
  if (!m_centred) {
    m_centred = true;
    if (const QScreen* s = screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(s->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QWidget::showEvent(event);
}

// Closing during a split cannot tear the window down under the running
// handler: the close is remembered, the split stops at its next line, and
// Command1_Click closes the window once the run has returned.
void frmSave::closeEvent(QCloseEvent* event) {
  if (m_splitting) {
    m_closeRequested = true;
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void frmSave::Form_Load() {
  lstKey->clear();
  lstKey->addItem(QStringLiteral("第"));
  lstKey->addItem(QStringLiteral("章"));

  QString folder = QDir::toNativeSeparators(m_programFolder);
  if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
  txtTo->setText(folder);

  Command1->setFocus();
}

// While a split runs, the window lets events through at every heading, so
// every control stays usable. Keyword edits apply from the next line (the
// list is read afresh); the text boxes and Browse buttons do not affect the
// running split, which holds the paths it checked. A second press of Split is
// ignored: a nested run would write the same pieces while the outer one is
// still writing them.
void frmSave::Command1_Click() {
  if (m_splitting) return;

  const quorrel::input_check check =
      quorrel::check_inputs(txtFrom->text().toStdString(), txtTo->text().toStdString(),
                            static_cast<std::size_t>(lstKey->count()));
  if (!check.ok) {
    quorrel::platform::showMessage(this, fromUtf8(check.message));
    return;
  }

  m_splitting = true;
  m_closeRequested = false;
  m_saved = -1;
  m_sinceShown.invalidate();
  const quorrel::split_result result = quorrel::run_split(check.request, *this);
  m_splitting = false;
  // The last report may have come within a frame; and when writing failed,
  // pieces counted at headings may not all have reached the disk.
  if (m_saved >= 0) m_saved = result.pieces;
  showProgress();

  if (m_closeRequested) {
    m_closeRequested = false;
    close();
    return;
  }
  quorrel::platform::showMessage(this, result.failure ? fromUtf8(result.failure->message())
                                                      : fromUtf8(quorrel::messages::finished));
}

void frmSave::cmdAdd_Click() {
  const QString keyword = txtKey->text();
  if (keyword.isEmpty()) return;
  lstKey->addItem(keyword);
}

void frmSave::cmdDelete_Click() {
  const int index = selectedKeyIndex();
  if (index < 0) return;
  delete lstKey->takeItem(index);
  lstKey->clearSelection();
}

// The dialog's answer is kept up to its first NUL, should it carry any.
void frmSave::cmdOrigleFile_Click() {
  QString startDir = txtFrom->text();
  const QString chosen = modComDlg32::ShowOpenFile(
      this, QStringLiteral("选择"), startDir, QStringLiteral("*.txt|*.txt"),
      modComDlg32::kLongNames | modComDlg32::kNoChangeDir);
  const qsizetype nul = chosen.indexOf(QChar(0));
  txtFrom->setText(nul < 0 ? chosen : chosen.first(nul));
}

void frmSave::cmdSaveFolder_Click() {
  txtTo->setText(modComDlg32::BrowseFolder(QStringLiteral("选择目录"), this, 0));
}

// Whether the page opened or not, the user is told nothing.
void frmSave::cmdWeb_Click() {
  QString errorText;
  OpenWithShell(this, QString::fromLatin1(kShopPage), errorText);
}

void frmSave::Label1_Click() { cmdWeb_Click(); }

std::uint64_t frmSave::keywords_version() { return m_keywordsVersion; }

std::vector<std::string> frmSave::keywords() {
  std::vector<std::string> list;
  list.reserve(static_cast<std::size_t>(lstKey->count()));
  for (int i = 0; i < lstKey->count(); ++i) list.push_back(lstKey->item(i)->text().toStdString());
  return list;
}

// Called at every heading. Setting the caption (text layout for the label's
// new size), repainting and letting events through each cost far more than
// splitting a line, so they happen at most once a screen frame; the first
// heading of a run always shows. Nothing can look at the label between two
// of these moments, as no event is handled then.
void frmSave::progress(std::int64_t saved) {
  m_saved = saved;
  if (m_sinceShown.isValid() && m_sinceShown.elapsed() < kFrameMs) return;
  m_sinceShown.start();
  showProgress();
  QCoreApplication::processEvents();
}

void frmSave::showProgress() {
  if (m_saved < 0) return;
  Label1->setCaption(fromUtf8(quorrel::messages::progress(m_saved)));
  Label1->repaint();
}

bool frmSave::stop_requested() { return m_closeRequested; }

// The verb only names the choice: both open with the default handler,
// unelevated. QDesktopServices takes no owner window.
bool frmSave::OpenWithShell([[maybe_unused]] QWidget* owner, QString target, QString& errorText) {
  try {
    m_shellVerb = modSystem::ShellVerb();
    return quorrel::platform::backend().openUrl(QUrl::fromUserInput(target, QDir::currentPath()));
  } catch (const std::exception& e) {
    errorText = QString::fromLocal8Bit(e.what());
  } catch (...) {
    errorText = QStringLiteral("unknown error");
  }
  return false;
}

int frmSave::selectedKeyIndex() const {
  const QList<QListWidgetItem*> selected = lstKey->selectedItems();
  return selected.isEmpty() ? -1 : lstKey->row(selected.first());
}

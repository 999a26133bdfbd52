#include "ui/main_window.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>  // font(), the platform UI font
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <limits>
#include <optional>

#include "platform/backend.h"
#include "ui/caption_label.h"

// The resources are linked into a static library; registering them must
// happen outside any namespace.
static void registerResources() { Q_INIT_RESOURCE(quorrel); }

namespace {

using quorrel::ui::CaptionLabel;

constexpr int kTwipsPerPixel = 15;
constexpr int kStopSignalPollMs = 200;  // a stop signal closes an idle window this soon

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

// The default destination: the program's folder when the user may write
// there, else the documents folder.
quorrel::ui::start_folders startFolders(const QString& programFolder) {
  quorrel::platform::Backend& desktop = quorrel::platform::backend();
  return {QDir::toNativeSeparators(programFolder).toStdString(), desktop.mayWriteTo(programFolder),
          QDir::toNativeSeparators(desktop.documentsFolder()).toStdString(),
          static_cast<char>(QDir::separator().unicode())};
}

// The first local file or folder among dragged URLs, with its native path.
std::optional<QString> droppedPath(const QMimeData* data) {
  if (!data || !data->hasUrls()) return std::nullopt;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty())
      return QDir::toNativeSeparators(url.toLocalFile());
  return std::nullopt;
}

}  // namespace

frmSave::frmSave(const QString& programFolder, const QString& sourceFile, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_form(*this, startFolders(programFolder)),
      m_sourceFile(sourceFile) {
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

  // For screen readers: each box and the list is named by its label (the
  // labels have no access key, so a buddy changes nothing else); the keyword
  // box has no label, and the Browse buttons and the link say what they do.
  Label2->setBuddy(txtFrom);
  Label3->setBuddy(txtTo);
  Label4->setBuddy(lstKey);
  txtFrom->setAccessibleName(QStringLiteral("原始文件"));
  txtTo->setAccessibleName(QStringLiteral("存放目录"));
  lstKey->setAccessibleName(QStringLiteral("分割特征词"));
  txtKey->setAccessibleName(QStringLiteral("要添加的分割特征词"));
  cmdOrigleFile->setAccessibleName(QStringLiteral("选择原始文件"));
  cmdSaveFolder->setAccessibleName(QStringLiteral("选择存放目录"));
  Label1->setAccessibleName(QStringLiteral("打开充值商店网页"));

  // A change of the list that did not come through the form (the list is a
  // plain widget) is a new keyword list for a running split all the same.
  QAbstractItemModel* keys = lstKey->model();
  auto changed = [this] { m_form.keywords_changed(); };
  connect(keys, &QAbstractItemModel::rowsInserted, this, changed);
  connect(keys, &QAbstractItemModel::rowsRemoved, this, changed);
  connect(keys, &QAbstractItemModel::rowsMoved, this, changed);
  connect(keys, &QAbstractItemModel::dataChanged, this, changed);
  connect(keys, &QAbstractItemModel::modelReset, this, changed);
  connect(keys, &QAbstractItemModel::layoutChanged, this, changed);

  setAcceptDrops(true);
  for (QLineEdit* box : {txtFrom, txtTo, txtKey}) box->installEventFilter(this);

  m_stopSignalPoll = new QTimer(this);
  connect(m_stopSignalPoll, &QTimer::timeout, this, [this] { m_form.poll_stop_signal(); });
  m_stopSignalPoll->start(kStopSignalPollMs);

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
// handler: the form remembers the close, the split stops at its next line,
// and the window closes once the run has returned.
void frmSave::closeEvent(QCloseEvent* event) {
  if (!m_form.close_asked()) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void frmSave::dragEnterEvent(QDragEnterEvent* event) {
  if (droppedPath(event->mimeData())) event->acceptProposedAction();
}

void frmSave::dragMoveEvent(QDragMoveEvent* event) {
  if (droppedPath(event->mimeData())) event->acceptProposedAction();
}

void frmSave::dropEvent(QDropEvent* event) {
  const std::optional<QString> path = droppedPath(event->mimeData());
  if (!path) return;
  event->acceptProposedAction();
  m_form.dropped(path->toStdString(), QFileInfo(*path).isDir());
}

bool frmSave::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::DragEnter:
      if (!droppedPath(static_cast<QDragEnterEvent*>(event)->mimeData())) break;
      dragEnterEvent(static_cast<QDragEnterEvent*>(event));
      return true;
    case QEvent::DragMove:
      if (!droppedPath(static_cast<QDragMoveEvent*>(event)->mimeData())) break;
      dragMoveEvent(static_cast<QDragMoveEvent*>(event));
      return true;
    case QEvent::Drop:
      if (!droppedPath(static_cast<QDropEvent*>(event)->mimeData())) break;
      dropEvent(static_cast<QDropEvent*>(event));
      return true;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

void frmSave::Form_Load() {
  m_form.load(m_sourceFile.toStdString());
  Command1->setFocus();
}

void frmSave::Command1_Click() { m_form.split_clicked(); }

void frmSave::cmdAdd_Click() { m_form.add_clicked(); }

void frmSave::cmdDelete_Click() { m_form.delete_clicked(); }

void frmSave::cmdOrigleFile_Click() { m_form.browse_source_clicked(); }

void frmSave::cmdSaveFolder_Click() { m_form.browse_destination_clicked(); }

void frmSave::cmdWeb_Click() { m_form.shop_clicked(); }

void frmSave::Label1_Click() { m_form.shop_clicked(); }

QLineEdit* frmSave::boxOf(box which) const {
  switch (which) {
    case box::source:
      return txtFrom;
    case box::destination:
      return txtTo;
    case box::keyword:
      break;
  }
  return txtKey;
}

std::string frmSave::text(box which) { return boxOf(which)->text().toStdString(); }

void frmSave::set_text(box which, const std::string& text) {
  boxOf(which)->setText(QString::fromStdString(text));
}

int frmSave::key_count() { return lstKey->count(); }

std::string frmSave::key(int index) { return lstKey->item(index)->text().toStdString(); }

void frmSave::add_key(const std::string& key) { lstKey->addItem(QString::fromStdString(key)); }

void frmSave::remove_key(int index) { delete lstKey->takeItem(index); }

void frmSave::clear_keys() { lstKey->clear(); }

int frmSave::selected_key() {
  const QList<QListWidgetItem*> selected = lstKey->selectedItems();
  return selected.isEmpty() ? -1 : lstKey->row(selected.first());
}

void frmSave::clear_key_selection() { lstKey->clearSelection(); }

void frmSave::set_caption(const std::string& caption) {
  Label1->setCaption(QString::fromStdString(caption));
  Label1->repaint();
}

void frmSave::show_message(const std::string& text) {
  quorrel::platform::showMessage(this, QString::fromStdString(text));
}

void frmSave::process_events() { QCoreApplication::processEvents(); }

void frmSave::close_window() { close(); }

// The dialogs and the shell call are owned by the window itself.
void* frmSave::native_window() { return static_cast<QWidget*>(this); }

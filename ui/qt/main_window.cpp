#include "ui/qt/main_window.h"

#include <QAbstractEventDispatcher>
#include <QCheckBox>
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
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>

#include "ui/layout.h"
#include "ui/qt/caption_label.h"

// The resources are linked into a static library; registering them must
// happen outside any namespace.
static void registerResources() { Q_INIT_RESOURCE(quorrel); }

namespace {

using quorrel::ui::CaptionLabel;

namespace layout = quorrel::ui::layout;

constexpr int kStopSignalPollMs = 200;  // a stop signal closes an idle window this soon
constexpr int kEventBudgetMs = 10;      // at most this long in events each time a run lets them through

QString qString(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// A control of the table, named, placed and captioned as drawn there.
template <typename Control>
Control* make(QWidget* parent, layout::id which) {
  const layout::control& c = layout::of(which);
  Control* control;
  if constexpr (std::is_same_v<Control, QLineEdit> || std::is_same_v<Control, QListWidget>)
    control = new Control(parent);
  else control = new Control(qString(c.caption), parent);
  control->setObjectName(qString(c.name));
  control->setGeometry(layout::pixels(c.rect.left), layout::pixels(c.rect.top), layout::pixels(c.rect.width),
                       layout::pixels(c.rect.height));
  if (!c.accessible_name.empty()) control->setAccessibleName(qString(c.accessible_name));
  if constexpr (std::is_same_v<Control, CaptionLabel>)
    control->adjustSize();  // a label's size is its caption's; left and top stay
  if constexpr (std::is_same_v<Control, QPushButton>)
    control->setAutoDefault(false);  // no default button: Enter presses nothing
  if constexpr (std::is_same_v<Control, QLineEdit>)
    control->setMaxLength(std::numeric_limits<int>::max());  // no length limit
  return control;
}

// The platform's UI font at 9 pt, with CJK families to fall back on so that
// Chinese is drawn with simplified glyph shapes, whatever the platform font.
QFont windowFont() {
  QFont font = QGuiApplication::font();
  font.setPointSize(9);
  font.setFamilies({font.family(), QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                    QStringLiteral("Source Han Sans SC"), QStringLiteral("Microsoft YaHei UI"),
                    QStringLiteral("Microsoft YaHei")});
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

// The first local file or folder among dragged URLs, with its native path.
std::optional<QString> droppedPath(const QMimeData* data) {
  if (!data || !data->hasUrls()) return std::nullopt;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && !url.toLocalFile().isEmpty()) return QDir::toNativeSeparators(url.toLocalFile());
  return std::nullopt;
}

}  // namespace

frmSave::frmSave(const QString& sourceFile, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_form(*this, quorrel::ui::start_folders::of_desktop()),
      m_sourceFile(sourceFile) {
  static const bool registered = (registerResources(), true);
  (void)registered;

  setObjectName(QStringLiteral("frmSave"));
  setWindowTitle(qString(layout::title));
  setWindowIcon(QIcon(QStringLiteral(":/quorrel.ico")));
  setFixedSize(layout::pixels(layout::client_width), layout::pixels(layout::client_height));
  setFont(windowFont());

  using layout::id;
  Label1 = make<CaptionLabel>(this, id::Label1);
  Command1 = make<QPushButton>(this, id::Command1);
  Label2 = make<CaptionLabel>(this, id::Label2);
  txtFrom = make<QLineEdit>(this, id::txtFrom);
  cmdOrigleFile = make<QPushButton>(this, id::cmdOrigleFile);
  Label3 = make<CaptionLabel>(this, id::Label3);
  txtTo = make<QLineEdit>(this, id::txtTo);
  cmdSaveFolder = make<QPushButton>(this, id::cmdSaveFolder);
  lstKey = make<QListWidget>(this, id::lstKey);
  txtKey = make<QLineEdit>(this, id::txtKey);
  cmdAdd = make<QPushButton>(this, id::cmdAdd);
  cmdDelete = make<QPushButton>(this, id::cmdDelete);
  chkByForm = make<QCheckBox>(this, id::chkByForm);
  chkTitleNames = make<QCheckBox>(this, id::chkTitleNames);
  Label4 = make<CaptionLabel>(this, id::Label4);
  cmdWeb = make<QPushButton>(this, id::cmdWeb);

  // The table's order is the tab order; labels take no focus.
  QWidget* previous = nullptr;
  for (const layout::control& c : layout::controls) {
    if (c.kind == layout::kind::label) continue;
    auto* control = findChild<QWidget*>(qString(c.name), Qt::FindDirectChildrenOnly);
    if (previous) setTabOrder(previous, control);
    previous = control;
  }

  lstKey->setSelectionMode(QAbstractItemView::SingleSelection);
  lstKey->setSortingEnabled(false);
  Label1->setCursor(handCursor());

  // For screen readers each box and the list is also the buddy of its label
  // (the labels have no access key, so this changes nothing else).
  Label2->setBuddy(txtFrom);
  Label3->setBuddy(txtTo);
  Label4->setBuddy(lstKey);

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
  for (QLineEdit* edit : {txtFrom, txtTo, txtKey}) edit->installEventFilter(this);

  m_stopSignalPoll = new QTimer(this);
  connect(m_stopSignalPoll, &QTimer::timeout, this, [this] { m_form.poll_stop_signal(); });
  m_stopSignalPoll->start(kStopSignalPollMs);

  connect(Command1, &QPushButton::clicked, this, &frmSave::Command1_Click);
  connect(cmdAdd, &QPushButton::clicked, this, &frmSave::cmdAdd_Click);
  connect(cmdDelete, &QPushButton::clicked, this, &frmSave::cmdDelete_Click);
  connect(chkByForm, &QCheckBox::clicked, this, &frmSave::chkByForm_Click);
  connect(chkTitleNames, &QCheckBox::clicked, this, &frmSave::chkTitleNames_Click);
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
    default: break;
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

void frmSave::chkByForm_Click() { m_form.option_clicked(); }

void frmSave::chkTitleNames_Click() { m_form.option_clicked(); }

void frmSave::cmdOrigleFile_Click() { m_form.browse_source_clicked(); }

void frmSave::cmdSaveFolder_Click() { m_form.browse_destination_clicked(); }

void frmSave::cmdWeb_Click() { m_form.shop_clicked(); }

void frmSave::Label1_Click() { m_form.shop_clicked(); }

QLineEdit* frmSave::boxOf(box which) const {
  switch (which) {
    case box::source: return txtFrom;
    case box::destination: return txtTo;
    case box::keyword: break;
  }
  return txtKey;
}

std::string frmSave::text(box which) { return boxOf(which)->text().toStdString(); }

void frmSave::set_text(box which, const std::string& text) {
  boxOf(which)->setText(QString::fromStdString(text));
}

QCheckBox* frmSave::checkBoxOf(option which) const {
  return which == option::by_form ? chkByForm : chkTitleNames;
}

bool frmSave::ticked(option which) { return checkBoxOf(which)->isChecked(); }

void frmSave::set_ticked(option which, bool ticked) { checkBoxOf(which)->setChecked(ticked); }

// Qt draws the greyed state, in high contrast too.
void frmSave::enable_keywords(bool enabled) {
  for (QWidget* keywords : std::initializer_list<QWidget*>{lstKey, txtKey, cmdAdd, cmdDelete})
    keywords->setEnabled(enabled);
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

// The event dispatcher reads the window system's connection only after a
// wake-up, and one pass may take a wake-up meant for an event that its
// reader thread queued just after the connection was read: in an event
// loop the next event wakes it again, but a long piece brings none, and a
// close would wait until the run ends. So the dispatcher is woken here
// first, and events are handled until none is left (a close read from the
// connection is delivered in the pass after), within a short budget.
void frmSave::process_events() {
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
  QCoreApplication::processEvents(QEventLoop::AllEvents, kEventBudgetMs);
}

// A window hidden by a close during the split is no longer the last visible
// window when it closes, so Qt would not end the program by itself.
void frmSave::close_window() {
  close();
  QCoreApplication::quit();
}

void frmSave::hide_window() { hide(); }

// The dialogs and the shell call are owned by the window itself.
void* frmSave::native_window() { return static_cast<QWidget*>(this); }

// The desktop backend on Linux: the real Qt dialogs, each answered from a timer the
// way a person would, and the guard that swaps in a scripted backend.

#include "platform/backend.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "tests/support/fake_backend.h"

namespace {

using quorrel::platform::backend;

// Calls `answer` with the modal dialog of type T once it is open.
template <typename T>
void whenOpen(std::function<void(T*)> answer) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, answer] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      timer->stop();
      timer->deleteLater();
      answer(dialog);
    }
  });
  timer->start(10);
}

}  // namespace

class BackendTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup();
  void message_box_is_titled_with_information_icon_and_ok();
  void open_file_dialog_answers_the_chosen_path();
  void folder_chooser_answers_where_it_started();
  void scoped_backend_replaces_and_restores();
  void writable_folder_is_an_existing_writable_folder();

 private:
  const quorrel::platform::ScopedBackend m_system{quorrel::platform::systemBackend()};
};

void BackendTest::cleanup() {
  for (QWidget* top : QApplication::topLevelWidgets())
    QVERIFY2(!top->isVisible(), top->metaObject()->className());
}

void BackendTest::message_box_is_titled_with_information_icon_and_ok() {
  QWidget owner;
  owner.show();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QWidget* parent = nullptr;
  whenOpen<QMessageBox>([&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    parent = box->parentWidget();
    box->button(QMessageBox::Ok)->click();
  });
  backend().showMessage(&owner, "保存完毕");
  QCOMPARE(title, QStringLiteral("Quorrel"));
  QCOMPARE(text, QStringLiteral("保存完毕"));
  QCOMPARE(icon, QMessageBox::Information);
  QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  QCOMPARE(parent, &owner);
  owner.close();
}

void BackendTest::open_file_dialog_answers_the_chosen_path() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString novel = dir.filePath(QStringLiteral("小说.txt"));
  QFile file(novel);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();

  QString title;
  QStringList filters;
  QString selectedFilter;
  bool anyName = false;  // a name of a file that does not exist is accepted
  whenOpen<QFileDialog>([&](QFileDialog* dialog) {
    title = dialog->windowTitle();
    anyName = dialog->fileMode() == QFileDialog::AnyFile && dialog->acceptMode() == QFileDialog::AcceptOpen;
    filters = dialog->nameFilters();
    selectedFilter = dialog->selectedNameFilter();
    // Typed in full and closed as accepted, without accept()'s own check of
    // the name, which races the dialog's background listing of the folder.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!name) return dialog->reject();
    name->setText(novel);
    static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
  });
  // A text that is its own pattern list is shown once; "*.*" is every name.
  const std::vector<quorrel::platform::FileFilter> offered{
      {"*.txt", "*.txt"}, {"文本", "*.txt; *.log"}, {"全部", " *.* "}};
  const QStringList shown{QStringLiteral("*.txt"), QStringLiteral("文本 (*.txt *.log)"),
                          QStringLiteral("全部 (*)")};
  const std::string chosen = backend().openFile(nullptr, "选择", dir.path().toStdString(), offered);
  QCOMPARE(QString::fromStdString(chosen), QDir::toNativeSeparators(novel));
  QCOMPARE(title, QStringLiteral("选择"));
  QCOMPARE(filters, shown);
  QCOMPARE(selectedFilter, shown.first());
  QVERIFY(anyName);
}

// Accepted where it opened: the user's home for the desktop, else the
// standard folder a root names when it exists, in a home of the test's own.
void BackendTest::folder_chooser_answers_where_it_started() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString home = dir.filePath(QStringLiteral("家"));
  for (const char* folder : {"Documents", "Desktop", ".local/share/applications"})
    QVERIFY(QDir(home).mkpath(folder));
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME"), oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(home));
  qunsetenv("XDG_CONFIG_HOME");
  qunsetenv("XDG_DATA_HOME");
  const QList<std::pair<std::int32_t, QString>> roots{{0, ""},           {2, "/.local/share/applications"},
                                                      {5, "/Documents"}, {16, "/Desktop"},
                                                      {17, ""},          {28, "/.local/share"},
                                                      {39, ""}};
  for (const auto& [csidl, start] : roots) {
    QString prompt;
    whenOpen<QFileDialog>([&](QFileDialog* dialog) {
      prompt = dialog->windowTitle();
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides accept()
    });
    const std::string chosen = backend().chooseFolder(nullptr, "选择目录", csidl);
    QCOMPARE(QString::fromStdString(chosen), QDir::toNativeSeparators(home + start));
    QCOMPARE(prompt, QStringLiteral("选择目录"));
  }
  whenOpen<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  QCOMPARE(backend().chooseFolder(nullptr, "选择目录", 0), std::string());
  qputenv("HOME", oldHome);
  if (!oldConfig.isNull()) qputenv("XDG_CONFIG_HOME", oldConfig);
  if (!oldData.isNull()) qputenv("XDG_DATA_HOME", oldData);
}

void BackendTest::scoped_backend_replaces_and_restores() {
  quorrel::platform::Backend* real = &backend();
  quorrel::testing::fake_backend outer, inner;
  {
    quorrel::platform::ScopedBackend outerGuard(outer);
    QCOMPARE(&backend(), static_cast<quorrel::platform::Backend*>(&outer));
    {
      quorrel::platform::ScopedBackend innerGuard(inner);
      backend().showMessage(nullptr, "一");
    }
    backend().showMessage(nullptr, "二");
  }
  QCOMPARE(inner.messages, std::vector<std::string>{"一"});
  QCOMPARE(outer.messages, std::vector<std::string>{"二"});
  QCOMPARE(&backend(), real);
}

// Only where a piece could be created: /proc/self is a folder in which no
// one, root included, may create a file.
void BackendTest::writable_folder_is_an_existing_writable_folder() {
  QTemporaryDir dir;
  QFile file(dir.filePath("a.txt"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  const QList<std::pair<QString, bool>> cases{{dir.path(), true},
                                              {dir.filePath("missing"), false},
                                              {dir.filePath("a.txt"), false},
                                              {QStringLiteral("/proc/self"), false}};
  for (const auto& [folder, writable] : cases)
    QVERIFY2(backend().mayWriteTo(folder.toStdString()) == writable, qPrintable(folder));
  QVERIFY(QFileInfo(QString::fromStdString(backend().documentsFolder())).isDir());
  QCOMPARE(QString::fromStdString(backend().programFolder()),
           QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
}

QTEST_MAIN(BackendTest)
#include "backend_test.moc"

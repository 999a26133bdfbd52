// quorrel [FILE]: the window, with FILE (if given) as the source file.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include "core/stop_signals.h"
#include "platform/backend.h"
#include "ui/qt/application.h"
#include "ui/qt/main_window.h"

int main(int argc, char** argv) {
  // Hang-up, interrupt and terminate stop a running split at a line
  // boundary and close the window, instead of killing a piece half written.
  quorrel::catch_stop_signals();
  QApplication app(argc, argv);
  quorrel::ui::setUpApplication(app);
  const quorrel::platform::ScopedBackend desktop(quorrel::platform::systemBackend());

  // Qt has taken its own options out of the arguments. A file manager's
  // "Open with" passes one local path.
  const QStringList arguments = QApplication::arguments();
  const QString given = arguments.value(1);
  const QString source =
      given.isEmpty() ? QString() : QDir::toNativeSeparators(QFileInfo(given).absoluteFilePath());
  frmSave window(source);
  window.show();
  const int status = QApplication::exec();
  if (const int signal = quorrel::stop_signal()) return quorrel::exit_status_for_signal(signal);
  return status;
}

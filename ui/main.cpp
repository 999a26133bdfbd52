// quorrel: the window. Takes no arguments of its own.

#include <QApplication>

#include "ui/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quorrel"));
  frmSave window;
  window.show();
  return QApplication::exec();
}

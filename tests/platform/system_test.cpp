// modSystem's version test and the shell verb it chooses, for the versions a
// scripted desktop reports.

#include "platform/system.h"

#include <QtTest>

#include "tests/ui/fake_backend.h"

using OS = QOperatingSystemVersion;
Q_DECLARE_METATYPE(QOperatingSystemVersion)

class SystemTest : public QObject {
  Q_OBJECT

 private slots:
  void shell_verb_follows_the_windows_version_data();
  void shell_verb_follows_the_windows_version();
};

void SystemTest::shell_verb_follows_the_windows_version_data() {
  QTest::addColumn<QOperatingSystemVersion>("version");
  QTest::addColumn<bool>("vistaOrLater");
  QTest::addColumn<QString>("verb");
  QTest::newRow("NT 5.0, Windows 2000") << OS(OS::Windows, 5, 0) << false << "Open";
  QTest::newRow("NT 5.1, XP") << OS(OS::Windows, 5, 1) << false << "Open";
  QTest::newRow("NT 5.2") << OS(OS::Windows, 5, 2) << false << "Open";
  QTest::newRow("NT 6.0, Vista") << OS(OS::Windows, 6, 0) << true << "Runas";
  QTest::newRow("NT 6.1") << OS(OS::Windows, 6, 1) << true << "Runas";
  QTest::newRow("Windows 10") << OS(OS::Windows, 10, 0) << true << "Runas";
  QTest::newRow("Windows, version unknown") << OS(OS::Windows, -1) << false << "Open";
  QTest::newRow("macOS 13") << OS(OS::MacOS, 13, 0) << false << "Open";
  QTest::newRow("Android 12") << OS(OS::Android, 12, 0) << false << "Open";
  QTest::newRow("unknown system 10") << OS(OS::Unknown, 10, 0) << false << "Open";
}

void SystemTest::shell_verb_follows_the_windows_version() {
  QFETCH(QOperatingSystemVersion, version);
  QFETCH(bool, vistaOrLater);
  QFETCH(QString, verb);
  FakeBackend desktop;
  desktop.version = version;
  quorrel::platform::ScopedBackend guard(desktop);
  QCOMPARE(modSystem::IsVistaOrLater(), vistaOrLater);
  QCOMPARE(modSystem::ShellVerb(), verb);
}

QTEST_MAIN(SystemTest)
#include "system_test.moc"

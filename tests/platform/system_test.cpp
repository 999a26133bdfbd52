// modSystem's version test and the shell verb it chooses, for the versions a
// scripted desktop reports, and the shell call.

#include "platform/system.h"

#include <QDir>
#include <QWidget>
#include <QtTest>

#include "tests/ui/fake_backend.h"

using OS = QOperatingSystemVersion;
Q_DECLARE_METATYPE(QOperatingSystemVersion)

class SystemTest : public QObject {
  Q_OBJECT

 private slots:
  void shell_verb_follows_the_windows_version_data();
  void shell_verb_follows_the_windows_version();
  void shell_open_hands_the_target_to_the_default_handler_data();
  void shell_open_hands_the_target_to_the_default_handler();
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
  QCOMPARE(QString::fromStdString(modSystem::ShellVerb()), verb);
}

void SystemTest::shell_open_hands_the_target_to_the_default_handler_data() {
  QTest::addColumn<QString>("verb");
  QTest::addColumn<QString>("target");
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<QUrl>("opened");
  const QString shop = QStringLiteral("https://www.quorrel-shop.example/recharge");
  const QString document = QDir::temp().filePath(QStringLiteral("书/a b.txt"));
  QTest::newRow("web page, Runas") << "Runas" << shop << true << QUrl(shop);
  QTest::newRow("web page, Open, refused") << "Open" << shop << false << QUrl(shop);
  QTest::newRow("document") << "Runas" << document << true << QUrl::fromLocalFile(document);
}

// Whatever the verb, the same handler opens the same address; the desktop
// gives no reason for a refusal, so the caller's error text stays.
void SystemTest::shell_open_hands_the_target_to_the_default_handler() {
  QFETCH(QString, verb);
  QFETCH(QString, target);
  QFETCH(bool, accepted);
  QFETCH(QUrl, opened);
  FakeBackend desktop;
  desktop.urlAccepted = accepted;
  quorrel::platform::ScopedBackend guard(desktop);
  std::string errorText = "前";
  QWidget owner;
  QCOMPARE(modSystem::ShellOpen(&owner, verb.toStdString(), target.toStdString(), errorText),
           accepted);
  QCOMPARE(desktop.openedUrls, QList<QUrl>{opened});
  QCOMPARE(errorText, std::string("前"));
}

QTEST_MAIN(SystemTest)
#include "system_test.moc"

#include "platform/system.h"

#include <QDir>
#include <QOperatingSystemVersion>
#include <QUrl>

#include "platform/backend.h"

namespace modSystem {

bool IsVistaOrLater() {
  const QOperatingSystemVersion version = quorrel::platform::backend().osVersion();
  return version.type() == QOperatingSystemVersion::Windows && version.majorVersion() >= 6;
}

std::string ShellVerb() { return IsVistaOrLater() ? "Runas" : "Open"; }

// QDesktopServices takes no owner window and no verb, and says nothing of why
// a handler refused.
bool ShellOpen([[maybe_unused]] owner_window owner, [[maybe_unused]] const std::string& verb,
               const std::string& target, [[maybe_unused]] std::string& errorText) {
  return quorrel::platform::backend().openUrl(
      QUrl::fromUserInput(QString::fromStdString(target), QDir::currentPath()));
}

}  // namespace modSystem

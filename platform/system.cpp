#include "platform/system.h"

#include <QOperatingSystemVersion>

#include "platform/backend.h"

namespace modSystem {

bool IsVistaOrLater() {
  const QOperatingSystemVersion version = quorrel::platform::backend().osVersion();
  return version.type() == QOperatingSystemVersion::Windows && version.majorVersion() >= 6;
}

QString ShellVerb() { return IsVistaOrLater() ? QStringLiteral("Runas") : QStringLiteral("Open"); }

}  // namespace modSystem

// Reports what modSystem makes of the Windows version it runs on, for
// platform_test.cpp, which starts it under versions wine pretends to be:
// exit status bit 0 IsVistaOrLater, bit 1 a "Runas" ShellVerb.
#include "platform/backend.h"
#include "platform/system.h"

int main() {
  const quorrel::platform::ScopedBackend desktop(quorrel::platform::systemBackend());
  return (modSystem::IsVistaOrLater() ? 1 : 0) | (modSystem::ShellVerb() == "Runas" ? 2 : 0);
}

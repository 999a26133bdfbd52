#include "platform/system.h"

#include <cstdio>
#include <cstdlib>

#include "platform/backend.h"

namespace quorrel::platform {

namespace {

Backend* g_current = nullptr;

}  // namespace

Backend& backend() {
  if (!g_current) {
    std::fputs("quorrel: the desktop was used before a backend was installed\n", stderr);
    std::abort();
  }
  return *g_current;
}

ScopedBackend::ScopedBackend(Backend& installed) : m_previous(g_current) { g_current = &installed; }

ScopedBackend::~ScopedBackend() { g_current = m_previous; }

}  // namespace quorrel::platform

namespace modSystem {

bool IsVistaOrLater() {
  const quorrel::platform::OsVersion version = quorrel::platform::backend().osVersion();
  return version.windowsNt && version.major >= 6;
}

std::string ShellVerb() { return IsVistaOrLater() ? "Runas" : "Open"; }

bool ShellOpen(owner_window owner, [[maybe_unused]] const std::string& verb, const std::string& target,
               std::string& errorText) {
  return quorrel::platform::backend().openDocument(owner, target, errorText);
}

}  // namespace modSystem

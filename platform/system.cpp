#include "platform/system.h"

#include "platform/backend.h"

namespace quorrel::platform {

namespace {

Backend* g_current = nullptr;  // null: the system's own

}  // namespace

Backend& backend() { return g_current ? *g_current : systemBackend(); }

ScopedBackend::ScopedBackend(Backend& fake) : m_previous(g_current) { g_current = &fake; }

ScopedBackend::~ScopedBackend() { g_current = m_previous; }

}  // namespace quorrel::platform

namespace modSystem {

bool IsVistaOrLater() {
  const quorrel::platform::OsVersion version = quorrel::platform::backend().osVersion();
  return version.windowsNt && version.major >= 6;
}

std::string ShellVerb() { return IsVistaOrLater() ? "Runas" : "Open"; }

bool ShellOpen(owner_window owner, [[maybe_unused]] const std::string& verb,
               const std::string& target, std::string& errorText) {
  return quorrel::platform::backend().openDocument(owner, target, errorText);
}

}  // namespace modSystem

// modSystem on Windows: the version from the system itself and the shell's
// own open, wide calls only.

#include "platform/system.h"

#include <windows.h>
#include <shellapi.h>

#include "core/win32_text.h"
#include "platform/win32_support.h"

namespace modSystem {

// RtlGetVersion reports the version the system runs; GetVersionExW reports
// an older one to a program whose manifest does not name the system.
bool IsVistaOrLater() {
  using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto rtlGetVersion = reinterpret_cast<GetVersion>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!rtlGetVersion || rtlGetVersion(&version) != 0) return false;
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 6;
}

std::string ShellVerb() { return IsVistaOrLater() ? "Runas" : "Open"; }

// ShellExecuteW shows no error of its own; a value above 32 is success.
bool ShellOpen(owner_window owner, [[maybe_unused]] const std::string& verb,
               const std::string& target, std::string& errorText) {
  const quorrel::platform::ComApartment com;  // the shell's handlers may be COM objects
  const std::wstring wide = quorrel::widen(target);
  SetLastError(ERROR_SUCCESS);
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
      static_cast<HWND>(owner), L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  const DWORD error = GetLastError();
  errorText = quorrel::platform::systemMessage(error != ERROR_SUCCESS ? error : static_cast<DWORD>(result));
  return false;
}

}  // namespace modSystem

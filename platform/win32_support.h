#pragma once
// What the Windows backend (backend_win32.cpp) computes without showing
// anything, so tests under wine reach it, and the COM guard the Windows
// program shares with it. Windows builds only.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/backend.h"

namespace quorrel::platform {

// The filter list GetOpenFileNameW takes: each text and pattern list in
// UTF-16 ended by a NUL, the list by one more. "" when there is no pair,
// which the dialog is given as no list at all.
std::wstring openFileFilter(const std::vector<FileFilter>& filters);

// COM for this thread while the object lives, as the shell's dialogs,
// ShellExecuteW and screen readers need it; a thread that already has it
// keeps it as it was.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT m_result;
};

}  // namespace quorrel::platform

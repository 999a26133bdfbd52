#pragma once
// What the Windows backend (backend_win32.cpp) computes without showing
// anything, so tests under wine reach it. Windows builds only.

#include <string>
#include <vector>

#include "platform/backend.h"

namespace quorrel::platform {

// The filter list GetOpenFileNameW takes: each text and pattern list in
// UTF-16 ended by a NUL, the list by one more. "" when there is no pair,
// which the dialog is given as no list at all.
std::wstring openFileFilter(const std::vector<FileFilter>& filters);

}  // namespace quorrel::platform

#pragma once
// What the Windows wrappers (com_dlg_win32.cpp, system_win32.cpp) share, and
// what they compute without showing anything, so tests under wine reach it.
// Windows builds only.

#include <windows.h>
#include <commdlg.h>  // OPENFILENAMEW

#include <string>
#include <string_view>

namespace quorrel::platform {

// The filter list GetOpenFileNameW takes for a "|"-separated filter (the
// rules of filterPairs): each text and pattern list in UTF-16 ended by a NUL,
// the list by one more. "" when no pair is left, which the dialog is given
// as no list at all.
std::wstring openFileFilter(std::string_view filter);

// What GetOpenFileNameW is given for ShowOpenFile. The strings are the
// caller's and must outlive the dialog: `file` receives the choice, `filters`
// is openFileFilter's list ("" for none). A name typed without an extension
// gets the chosen filter's, as the system's own programs do.
OPENFILENAMEW openFileDialog(HWND owner, const std::wstring& title, const std::wstring& initialDir,
                             const std::wstring& filters, std::wstring& file, DWORD flags);

// A UTF-8 path in the form Windows takes for it: the \\?\ form when it is
// too long for the plain one.
std::wstring systemPath(const std::string& path);

// Whether `path` names an existing folder (hidden ones included).
bool isFolder(const std::string& path);

// The system's own description of an error, in the user's language.
std::string systemMessage(DWORD error);

// COM for this thread while the object lives, as the shell's dialogs and
// ShellExecuteW need it; a thread that already has it keeps it as it was.
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

#pragma once
// What every Windows part of the program needs of the system, written once:
// UTF-8 inside the program and UTF-16 at every call, paths in the form the
// system takes them, the system's text for an error, the command line, and
// owners for the handles the system hands out. Windows builds only; the
// core's file layer, the backend, the console and the window all use it.

#include <objbase.h>   // CoInitializeEx, CoTaskMemFree
#include <shellapi.h>  // HDROP, DragFinish
#include <shtypes.h>   // ITEMIDLIST
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quorrel::win32 {

// Text that is not valid UTF-8 (or UTF-16) converts with U+FFFD in place of
// the bad sequence.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);

// The system's description of a Windows error code, in the user's own
// language (the one Windows shows its texts in) where Windows has the text
// in it, else as FormatMessageW finds it; "error N" when it has none.
std::string system_message(unsigned long error);

// `path` made absolute as the system resolves it (the current folder, that
// of a drive for "C:x"); `path` itself when the system cannot.
std::wstring full_path(const std::wstring& path);

// A UTF-8 path in the form the system takes for it: the \\?\ form (full,
// "\" only) when it is too long for the plain one. A path already in the
// \\?\ or the device (\\.\) namespace goes as given.
std::wstring system_path(const std::string& path);

// The program's arguments after its name, read from the UTF-16 command line
// (main's argv went through the ANSI code page, which loses a name outside it).
std::vector<std::string> command_line_arguments();

// Owners: each releases its handle with the call that matches how it was
// obtained, so no path leaks one. Shared handles the system owns (a system
// cursor, stock objects) are not wrapped.
template <typename Handle, auto release>
struct releaser {
  void operator()(Handle handle) const { release(handle); }
};

template <typename Handle, auto release>
using unique_handle = std::unique_ptr<std::remove_pointer_t<Handle>, releaser<Handle, release>>;

inline void close_handle(HANDLE handle) { CloseHandle(handle); }
inline void close_search(HANDLE search) { FindClose(search); }
inline void free_local(wchar_t** memory) { LocalFree(memory); }
inline void free_task_memory(void* memory) { CoTaskMemFree(memory); }
inline void delete_font(HFONT font) { DeleteObject(font); }
inline void destroy_icon(HICON icon) { DestroyIcon(icon); }
inline void destroy_cursor(HCURSOR cursor) { DestroyCursor(cursor); }
inline void finish_drop(HDROP drop) { DragFinish(drop); }

using unique_kernel = unique_handle<HANDLE, close_handle>;  // never INVALID_HANDLE_VALUE
using unique_search = unique_handle<HANDLE, close_search>;  // FindFirstFileExW's, never INVALID_HANDLE_VALUE
using unique_argv = unique_handle<wchar_t**, free_local>;   // CommandLineToArgvW
using unique_pidl = unique_handle<ITEMIDLIST*, free_task_memory>;
using unique_task_text = unique_handle<wchar_t*, free_task_memory>;  // a shell's CoTaskMemAlloc-ed answer
using unique_font = unique_handle<HFONT, delete_font>;
using unique_icon = unique_handle<HICON, destroy_icon>;
using unique_cursor = unique_handle<HCURSOR, destroy_cursor>;
using unique_drop = unique_handle<HDROP, finish_drop>;  // WM_DROPFILES

// A COM interface pointer, released once.
template <typename Interface>
struct com_releaser {
  void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using com_ptr = std::unique_ptr<Interface, com_releaser<Interface>>;

// COM for this thread while the object lives, as the shell's dialogs,
// ShellExecuteW and screen readers need it; a thread that already has it
// keeps it as it was.
class com_apartment {
 public:
  com_apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  // S_FALSE (already initialised here) is balanced too; RPC_E_CHANGED_MODE is not.
  ~com_apartment() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;

 private:
  HRESULT result_;
};

// A screen device context, released on every path.
class screen_dc {
 public:
  screen_dc() : dc_(GetDC(nullptr)) {}
  ~screen_dc() { ReleaseDC(nullptr, dc_); }
  screen_dc(const screen_dc&) = delete;
  screen_dc& operator=(const screen_dc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

// An object selected into a device context for one scope.
class selection {
 public:
  selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~selection() { SelectObject(dc_, previous_); }
  selection(const selection&) = delete;
  selection& operator=(const selection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace quorrel::win32

#pragma once
// Owners for the Windows handles the window holds: each releases its handle
// with the call that matches how it was obtained, so no path leaks one.
// Shared handles the system owns (LoadCursorW of a system cursor, stock
// objects) are not wrapped.

#include <windows.h>
#include <shellapi.h>  // HDROP, DragFinish

#include <memory>
#include <type_traits>

namespace quorrel::win32 {

template <typename Handle, auto release>
struct releaser {
  void operator()(Handle handle) const { release(handle); }
};

template <typename Handle, auto release>
using unique_handle = std::unique_ptr<std::remove_pointer_t<Handle>, releaser<Handle, release>>;

inline void delete_font(HFONT font) { DeleteObject(font); }
inline void destroy_icon(HICON icon) { DestroyIcon(icon); }
inline void destroy_cursor(HCURSOR cursor) { DestroyCursor(cursor); }
inline void free_local(wchar_t** memory) { LocalFree(memory); }
inline void finish_drop(HDROP drop) { DragFinish(drop); }

using unique_font = unique_handle<HFONT, delete_font>;
using unique_icon = unique_handle<HICON, destroy_icon>;
using unique_cursor = unique_handle<HCURSOR, destroy_cursor>;
using unique_argv = unique_handle<wchar_t**, free_local>;        // CommandLineToArgvW
using unique_drop = unique_handle<HDROP, finish_drop>;           // WM_DROPFILES

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

// A COM interface pointer, released once.
template <typename Interface>
struct com_releaser {
  void operator()(Interface* object) const { object->Release(); }
};
template <typename Interface>
using com_ptr = std::unique_ptr<Interface, com_releaser<Interface>>;

}  // namespace quorrel::win32

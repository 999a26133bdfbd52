#pragma once
// modComDlg32: the open-file dialog and the folder picker behind the window's
// two Browse buttons, the same on every system: Qt's dialogs on Linux
// (com_dlg.cpp), the system's own on Windows (com_dlg_win32.cpp); the rules
// both follow are in com_dlg_rules.cpp. No toolkit type crosses this header.
//
// The module's name and its functions' (ShowOpenFile, BrowseFolder,
// MapFolderRoot, BrowseFlags), their arguments and the numbers they take
// (open-file flags, folder root codes) are those of the Windows common-dialog
// wrappers the program was first written on, and are kept so that the window's
// handlers read as they always have. The Windows records and fixed-size
// buffers behind them are not: paths of any length come back as plain strings.
//
// Texts are UTF-8. Both dialogs block until they close, keep no state and
// throw nothing but std::bad_alloc.

#include <cstdint>
#include <string>

namespace modComDlg32 {

// The window that owns a dialog, as the system knows it: a QWidget* on
// Linux, an HWND on Windows; null for none.
using owner_window = void*;

// Open-file dialog flags (Windows' OFN_ values). Long names are always
// taken; the process's current directory is kept when asked.
inline constexpr std::uint32_t kLongNames = 0x200000;
inline constexpr std::uint32_t kNoChangeDir = 0x8;

// Folder picker flag (BIF_RETURNONLYFSDIRS): only real (file-system)
// directories can be confirmed.
inline constexpr std::uint32_t kReturnOnlyFsDirs = 0x1;

// Shows a modal open-file dialog owned by `owner`, titled `title`.
//
// startDir: where browsing starts, rewritten to the directory used. Empty or
// only spaces gives the program's folder; otherwise the text with a trailing
// separator added if it is an existing folder (hidden ones included), and the
// program's folder for anything else (a file's path, a missing folder).
//
// filter: "|"-separated pairs of display text and pattern ("Text|*.txt;*.log"),
// the first pair selected; empty or only spaces means "*.*|*.*", every file.
// The list ends at an empty part, and a display text without a pattern is
// dropped, as the Windows dialog reads it.
//
// A typed name of a file that does not exist is accepted. Returns the chosen
// path, "" on cancel or when the dialog could not be shown.
std::string ShowOpenFile(owner_window owner, const std::string& title, std::string& startDir,
                         const std::string& filter, std::uint32_t flags);

// Shows a modal folder picker owned by `owner`, showing `prompt` ("请选择文件夹:"
// when it is empty; spaces count as text), started at the place `rootCode`
// names (MapFolderRoot). On Windows that is the special folder itself, the
// whole namespace for the desktop; on Linux the user's home for the desktop
// (code 0, below 2), from where the whole file system is reachable, or the
// matching standard folder, when there is one, for the others.
//
// Returns the chosen directory ending in exactly one separator (a root as it
// is), or "" on cancel or when the answer is not a real directory.
std::string BrowseFolder(const std::string& prompt, owner_window owner, std::int16_t rootCode);

// The Windows special-folder number (CSIDL) of a root code: below 2 gives 0,
// the desktop; 2 to 11 the code itself; 12 and up the code plus 4 (12 gives
// 16, the desktop directory). Every 16-bit code is accepted.
std::int32_t MapFolderRoot(std::int16_t rootCode);

// The folder picker's flags: kReturnOnlyFsDirs.
std::uint32_t BrowseFlags();

}  // namespace modComDlg32

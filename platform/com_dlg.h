#pragma once
// modComDlg32: the open-file dialog and the folder picker behind the window's
// two Browse buttons. Their rules (where a dialog starts, what is kept of its
// answer) are here, in com_dlg.cpp, for every system; the dialogs themselves
// are the desktop backend's (backend.h): Qt's on Linux, the system's own on
// Windows.
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
#include <string_view>
#include <vector>

#include "platform/backend.h"

namespace modComDlg32 {

using quorrel::platform::owner_window;

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
// path up to any NUL in the dialog's answer, "" on cancel or when the dialog
// could not be shown. With kNoChangeDir the process's current directory is
// the one it was before, whatever the dialog did to it.
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

// The pairs of a "|"-separated filter, the first one selected: empty or only
// spaces gives "*.*" for every file; the list ends at an empty part, and a
// text without a pattern is dropped.
std::vector<quorrel::platform::FileFilter> FilterPairs(std::string_view filter);

}  // namespace modComDlg32

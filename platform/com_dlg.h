#pragma once
// modComDlg32: the open-file dialog and the folder picker behind the window's
// two Browse buttons.
//
// The module's name and its functions' (ShowOpenFile, BrowseFolder,
// MapFolderRoot, BrowseFlags), their arguments and the numbers they take
// (open-file flags, folder root codes) are those of the Windows common-dialog
// wrappers the program was first written on, and are kept so that the window's
// handlers read as they always have. The Windows records and fixed-size
// buffers behind them are not: the dialogs are Qt's, reached through
// quorrel::platform::backend(), and the results are plain strings.
//
// Both functions block until the dialog closes and keep no state.

#include <QString>
#include <QtGlobal>  // qint16, qint32, quint32

class QWidget;

namespace modComDlg32 {

// Open-file dialog flags (Windows values). The Qt dialog always takes long
// names; the process's current directory is kept when asked.
inline constexpr quint32 kLongNames = 0x200000;
inline constexpr quint32 kNoChangeDir = 0x8;

// Folder picker flag: only real (file-system) directories can be confirmed.
inline constexpr quint32 kReturnOnlyFsDirs = 0x1;

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
// path, "" on cancel or when the dialog could not be shown; nothing is thrown.
QString ShowOpenFile(QWidget* owner, const QString& title, QString& startDir, const QString& filter,
                     quint32 flags);

// Shows a modal folder picker owned by `owner`, showing `prompt` ("请选择文件夹:"
// when it is empty; spaces count as text), started at the place `rootCode`
// names (MapFolderRoot): the user's home for the desktop (code 0, below 2),
// from where the whole file system is reachable, or the matching standard
// folder, when there is one, for the others.
//
// Returns the chosen directory ending in exactly one separator (a root as it
// is), or "" on cancel or when the answer is not a real directory.
QString BrowseFolder(const QString& prompt, QWidget* owner, qint16 rootCode);

// The Windows special-folder number (CSIDL) of a root code: below 2 gives 0,
// the desktop; 2 to 11 the code itself; 12 and up the code plus 4 (12 gives
// 16, the desktop directory). Every 16-bit code is accepted.
qint32 MapFolderRoot(qint16 rootCode);

// The folder picker's flags: kReturnOnlyFsDirs.
quint32 BrowseFlags();

}  // namespace modComDlg32

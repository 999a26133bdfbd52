#include "cli/console.h"

#include <windows.h>
// After windows.h, which it builds on.
#include <fcntl.h>  // _O_BINARY
#include <io.h>     // _get_osfhandle, _setmode

#include <cerrno>

#include "core/win32_support.h"

namespace quorrel::cli {
namespace {

HANDLE console_of(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

// The C runtime maps a pipe whose reader has gone (ERROR_NO_DATA, or
// ERROR_BROKEN_PIPE, or ERROR_PIPE_NOT_CONNECTED once the reader has closed
// its end) to EINVAL, which would read as the tool's own failure: say EPIPE,
// as Linux does. The failed WriteFile set the last error.
bool failed_write() {
  const DWORD error = GetLastError();
  if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED)
    errno = EPIPE;
  else if (errno == 0) errno = EIO;
  return false;
}

}  // namespace

void init_console() {
  // Redirected output is UTF-8 bytes exactly as written, "\n" included.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

// main's argv went through the ANSI code page: the command line instead.
std::vector<std::string> arguments(int, char**) { return win32::command_line_arguments(); }

std::string keyword_argument(const std::string& argument) { return argument; }

bool write(std::FILE* stream, std::string_view utf8) {
  if (HANDLE console = console_of(stream)) {
    // A console takes wide text whatever its code page.
    std::fflush(stream);
    const std::wstring text = win32::widen(utf8);
    DWORD written = 0;
    if (WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return true;
    errno = EIO;
    return false;
  }
  errno = 0;
  SetLastError(ERROR_SUCCESS);
  if (std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size()) return true;
  return failed_write();
}

bool flush(std::FILE* stream) {
  errno = 0;
  SetLastError(ERROR_SUCCESS);
  return std::fflush(stream) == 0 || failed_write();
}

bool is_terminal(std::FILE* stream) { return console_of(stream) != nullptr; }

// msvcrt's tmpfile() makes its file in the root of the drive, where a user
// may not write: the user's temporary folder instead. "D" has the system
// delete it on close, also when the process dies; "T" keeps it in memory
// where the system can.
std::FILE* scratch_file() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  wchar_t path[MAX_PATH];
  if (length == 0 || length > MAX_PATH || GetTempFileNameW(folder, L"qrl", 0, path) == 0) return nullptr;
  return _wfopen(path, L"w+bTD");
}

}  // namespace quorrel::cli

#include "cli/console.h"

#include <langinfo.h>  // nl_langinfo: the locale's encoding
#include <limits.h>    // PIPE_BUF
#include <unistd.h>    // isatty

#include <cerrno>
#include <clocale>
#include <csignal>
#include <optional>

#include "core/encoding.h"

namespace quorrel::cli {
namespace {

// The locale's encoding, unless it is UTF-8 or the C locale's ASCII, which
// count as UTF-8: that is what terminals and file names carry on Linux.
const std::optional<encoding>& locale_encoding() {
  static const std::optional<encoding> locale = [] {
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "ANSI_X3.4-1968") return std::optional<encoding>();
    return encoding_by_name(codeset);
  }();
  return locale;
}

}  // namespace

void init_console() {
  std::setlocale(LC_ALL, "");
  std::signal(SIGPIPE, SIG_IGN);  // a reader gone shows as EPIPE from write()
  // Redirected output goes to the system PIPE_BUF bytes at a time at most,
  // which a pipe takes whole or not at all: a stop signal then cuts short a
  // write to a pipe nobody reads, where the C library would retry the rest
  // of a longer one (the buffer is st_blksize otherwise, 64 KiB on some).
  if (!isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, PIPE_BUF);
}

std::vector<std::string> arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

std::string keyword_argument(const std::string& argument) {
  const auto& locale = locale_encoding();
  return locale ? decode(argument, *locale) : argument;
}

bool write(std::FILE* stream, std::string_view utf8) {
  const auto& locale = locale_encoding();
  const std::string bytes = locale ? encode(utf8, *locale).value_or(std::string(utf8)) : std::string(utf8);
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size()) return true;
  if (errno == 0) errno = EIO;
  return false;
}

bool flush(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) == 0) return true;
  if (errno == 0) errno = EIO;
  return false;
}

bool is_terminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

// A file without a name, in the system's folder for them.
std::FILE* scratch_file() { return std::tmpfile(); }

}  // namespace quorrel::cli

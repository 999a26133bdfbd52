#pragma once
// quorrel-split's text at the edges of the program: its arguments and what
// it writes. Inside, all text is UTF-8.
//
// On Linux, arguments and output are in the locale's encoding (the C locale
// counts as UTF-8), and paths stay the bytes given. On Windows, arguments
// are read as UTF-16 from the command line, never through the ANSI code
// page; output is wide text on a console and UTF-8 bytes when redirected.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quorrel::cli {

// Sets the process up for the functions below (the locale, the streams);
// called once, first thing in main.
void init_console();

// The program's arguments after its name, as main received them on Linux,
// as UTF-8 on Windows.
std::vector<std::string> arguments(int argc, char** argv);

// A keyword given as an argument, in UTF-8.
std::string keyword_argument(const std::string& argument);

// Writes UTF-8 text to stdout or stderr in the form the reader takes. false
// when it could not be written, with errno saying why; a reader that has
// closed its end of a pipe is EPIPE on both systems.
bool write(std::FILE* stream, std::string_view utf8);

// Flushes what write() left in the stream's buffer; false and errno as
// write().
bool flush(std::FILE* stream);

// Whether the stream is a terminal (a console on Windows).
bool is_terminal(std::FILE* stream);

// Text from the book or a path made fit for a terminal: every control
// character (C0, DEL, and the C1 controls U+0080 to U+009F) shown as a \x
// escape ("\x1b"), so that no escape sequence in a heading acts on the
// reader's terminal; everything else, spaces and Chinese text included,
// stays as it is.
std::string visible(std::string_view utf8);

// Whether a C1 control (U+0080 to U+009F, C2 80 to C2 9F) starts at byte
// `at` of `utf8`.
bool is_c1_at(std::string_view utf8, std::size_t at);

// A new file of the program's own, open for reading and writing, that the
// system removes once it is closed or the program ends; null when none can
// be had.
std::FILE* scratch_file();

}  // namespace quorrel::cli

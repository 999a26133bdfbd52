#pragma once
// Helpers for tests that run quorrel-split as a real process on real files:
// fresh folders, byte-exact listings of what a run leaves on disk, test
// sources in each encoding, and a child process whose stdout and stderr are
// captured apart. The including target defines QUORREL_SPLIT, the path of
// the tool. The child process itself is system-specific
// (split_process_posix.h, split_process_win32.h); a launch option one
// system cannot honour makes `process` throw there, so a case that needs it
// is kept off that system by name, never skipped in silence.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/encoding.h"
#include "tests/support/temp_folder.h"

namespace quorrel::cli_testing {

namespace fs = std::filesystem;

inline const std::string tool = QUORREL_SPLIT;

// ---------------------------------------------------------------------------
// Folders and files

using quorrel::testing::temp_folder;
using quorrel::testing::utf8_name;
using quorrel::testing::utf8_path;

// A new folder; false if it was there already.
inline bool make_folder(const std::string& path) { return fs::create_directory(utf8_path(path)); }

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(utf8_path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(utf8_path(path), std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything under a folder, by path relative to it: a file maps to its
// bytes, a folder is listed as "name/" and anything else as "name?", both
// with no bytes. Links are listed, not followed. Names use '/' on every
// system.
using listing = std::map<std::string, std::string>;

inline listing folder_contents(const std::string& folder) {
  listing found;
  for (const auto& entry : fs::recursive_directory_iterator(utf8_path(folder))) {
    const std::string name = utf8_name(fs::relative(entry.path(), utf8_path(folder)));
    if (entry.is_symlink()) found[name + "@"] = utf8_name(fs::read_symlink(entry.path()));
    else if (entry.is_directory()) found[name + "/"] = "";
    else if (entry.is_regular_file()) found[name] = read_file(utf8_name(entry.path()));
    else found[name + "?"] = "";
  }
  return found;
}

inline std::string hex(std::string_view bytes) {
  std::string out;
  char two[4];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X ", c);
    out += two;
  }
  return out;
}

// Equal bytes; on a difference, where it starts and a few bytes either side
// (pieces can be megabytes long).
inline ::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto mismatch = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(mismatch.first - actual.begin());
  const std::size_t from = at < 8 ? 0 : at - 8;
  return ::testing::AssertionFailure()
         << actual.size() << " bytes, expected " << expected.size() << "; they differ at byte " << at
         << "\n  got:      " << hex(actual.substr(from, 24))
         << "\n  expected: " << hex(expected.substr(from, 24));
}

// The folder holds exactly `expected`: nothing missing, nothing more, every
// file byte-exact.
inline void expect_contents(const std::string& folder, const listing& expected) {
  const listing actual = folder_contents(folder);
  for (const auto& [name, bytes] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) {
      ADD_FAILURE() << "missing: " << name;
      continue;
    }
    EXPECT_TRUE(same_bytes(found->second, bytes)) << "in " << name;
  }
  for (const auto& [name, bytes] : actual)
    if (!expected.contains(name))
      ADD_FAILURE() << "unexpected: " << name << " (" << bytes.size() << " bytes)";
}

// "0000.txt", "0001.txt", ... "9999.txt", "10000.txt"
inline std::string piece_name(std::size_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "%04zu.txt", number);
  return name;
}

// What a folder must hold after a run: what it held before, and the pieces
// at `prefix` (relative to the folder) numbered from 0000.
inline listing with_pieces(listing before, const std::string& prefix,
                           const std::vector<std::string>& pieces) {
  for (std::size_t i = 0; i < pieces.size(); ++i) before[prefix + piece_name(i)] = pieces[i];
  return before;
}

inline std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
    text.replace(at, from.size(), to);
  return text;
}

inline std::string repeat(std::string_view text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

// ---------------------------------------------------------------------------
// Test data

// `utf8` in a legacy encoding (GBK, Big5), through the core's converter.
inline std::string in_encoding(const char* name, std::string_view utf8) {
  return quorrel::encode(utf8, quorrel::encoding_by_name(name).value()).value();
}
inline std::string gbk(std::string_view utf8) { return in_encoding("GBK", utf8); }
inline std::string big5(std::string_view utf8) { return in_encoding("Big5", utf8); }

// `utf8` (valid) in UTF-16, without a byte-order mark.
inline std::string utf16(std::string_view utf8, bool big_endian) {
  std::string out;
  auto unit = [&](char32_t u) {
    const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
    out += big_endian ? high : low;
    out += big_endian ? low : high;
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    for (int k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += static_cast<std::size_t>(length);
    if (code >= 0x10000) {
      code -= 0x10000;
      unit(0xD800 + (code >> 10));
      unit(0xDC00 + (code & 0x3FF));
    } else {
      unit(code);
    }
  }
  return out;
}
inline std::string utf16le(std::string_view utf8) { return utf16(utf8, false); }
inline std::string utf16be(std::string_view utf8) { return utf16(utf8, true); }

// A UTF-8 source built line by line, with the pieces a split at the default
// keywords must give: heading, then CR LF + each non-blank line, CR LF last.
struct novel {
  std::string source;
  std::vector<std::string> pieces;

  void heading(std::string_view text, std::string_view end = "\n") {
    source.append(text).append(end);
    pieces.emplace_back(text).append("\r\n");
  }
  void line(std::string_view text, std::string_view end = "\n") {
    source.append(text).append(end);
    if (pieces.empty()) pieces.emplace_back("\r\n");
    pieces.back().append(text).append("\r\n");
  }
  void blank(std::string_view text, std::string_view end = "\n") { source.append(text).append(end); }
};

// Chapters until the source holds at least `bytes`: runs of twenty of about
// 50 KiB, then one of 6 MiB (six times the tool's write block, so it reaches
// the disk in parts). Line ends vary; some lines are blank.
inline novel long_novel(std::size_t bytes) {
  novel book;
  const char* ends[] = {"\n", "\r\n", "\n", "\r"};
  for (int chapter = 0; book.source.size() < bytes; ++chapter) {
    book.heading("第" + std::to_string(chapter + 1) + "章　风起云涌", ends[chapter % 4]);
    const std::size_t chapter_bytes = chapter % 21 == 20 ? 6 * 1024 * 1024 : 50 * 1024;
    const std::size_t start = book.source.size();
    for (int n = 0; book.source.size() - start < chapter_bytes; ++n) {
      if (n % 50 == 49) book.blank(" \t　", "\n");
      book.line("　　甲乙丙丁戊己庚辛壬癸 " + std::to_string(chapter) + "-" + std::to_string(n) +
                    " 子丑寅卯辰巳午未申酉戌亥",
                ends[n % 4]);
    }
  }
  return book;
}

// ---------------------------------------------------------------------------
// Running the tool

struct outcome {
  int exit_code = -1;  // -1 when a signal ended it
  int signal = 0;
  std::string out, err;
  bool hung = false;         // killed at the watchdog's deadline
  long peak_memory_kib = 0;  // the child's maximum resident set size
};

inline std::ostream& operator<<(std::ostream& os, const outcome& o) {
  return os << "exit " << o.exit_code << ", signal " << o.signal << (o.hung ? " (hung, killed)" : "")
            << "\nstdout: " << o.out << "\nstderr: " << o.err;
}

// No limit on a resource (equal to Linux's RLIM_INFINITY).
inline constexpr std::uint64_t no_limit = ~std::uint64_t{0};

struct launch {
  std::string cwd;               // the tool's working folder ("": this process's)
  int cwd_fd = -1;               // or an open folder, for one whose path is too long to name (POSIX)
  bool stderr_terminal = false;  // stderr on a pseudo-terminal instead of a pipe (POSIX)
  std::uint64_t file_size_limit = no_limit;  // RLIMIT_FSIZE, bytes (POSIX)
  bool file_size_signal = false;  // with that limit, SIGXFSZ left at its default (kills) rather than ignored
  std::uint64_t address_space_limit = no_limit;  // RLIMIT_AS: allocations past it fail (POSIX)
  std::optional<unsigned> user;                  // run as this user and group: root drops its rights (POSIX)
  std::vector<int> ignored_signals;  // ignored when the tool starts, as after nohup or trap '' (POSIX)
  std::string stdout_file;           // stdout written to this file (/dev/full) instead of a pipe (POSIX)
  bool stdout_reader_gone = false;   // stdout a pipe whose reader closed it before the tool writes
  // A watchdog, not a performance target: a run still going after this long
  // is taken to hang, killed, and reported as hung.
  std::chrono::seconds deadline{0};
};

}  // namespace quorrel::cli_testing

#ifdef _WIN32
#include "split_process_win32.h"
#else
#include "split_process_posix.h"
#endif

namespace quorrel::cli_testing {

inline outcome run(const std::vector<std::string>& args, const launch& how = {}) {
  process p(args, how);
  return p.finish();
}

// Each argument with "{dir}" replaced by the folder's path.
inline std::vector<std::string> in_folder(const std::vector<std::string>& args, const temp_folder& dir) {
  std::vector<std::string> out;
  for (const auto& a : args) out.push_back(replace_all(a, "{dir}", dir.path()));
  return out;
}

inline const std::string saved = "保存完毕\n";

// Splits `source`, written as book.txt into a folder of its own, with
// `options` into that folder's `prefix`, and checks that the run succeeded
// and left the folder holding exactly the source and `pieces`. The outcome,
// for the caller's own checks.
inline outcome expect_split(const std::vector<std::string>& options, const std::string& source,
                            const std::vector<std::string>& pieces, const std::string& prefix = "out") {
  temp_folder dir;
  write_file(dir / "book.txt", source);
  const listing before = folder_contents(dir.path());
  std::vector<std::string> args = options;
  args.push_back(dir / "book.txt");
  args.push_back(dir / prefix);
  const outcome o = run(args);
  EXPECT_EQ(o.exit_code, 0) << o;
  EXPECT_EQ(o.out, saved);
  expect_contents(dir.path(), with_pieces(before, prefix, pieces));
  return o;
}
inline const std::string usage_hint = "请用“quorrel-split --help”查看用法。\n";

// Three chapters, as most cases need.
inline const std::string three_chapters = "第一章 起\r\n甲\r\n第二章 承\r\n乙\r\n第三章 转\r\n丙\r\n";
inline const std::vector<std::string> three_pieces = {"第一章 起\r\n甲\r\n", "第二章 承\r\n乙\r\n",
                                                      "第三章 转\r\n丙\r\n"};

}  // namespace quorrel::cli_testing

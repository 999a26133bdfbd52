#pragma once
// Helpers for tests that run quorrel-split as a real process on real files:
// fresh folders, byte-exact listings of what a run leaves on disk, test
// sources in each encoding, and a child process whose stdout and stderr are
// captured apart. The including target defines QUORREL_SPLIT, the path of
// the tool.

#include <fcntl.h>         // open, O_CLOEXEC
#include <grp.h>           // setgroups: a child that is not root
#include <poll.h>          // poll: stdout and stderr are drained together
#include <signal.h>        // kill, sigprocmask
#include <stdlib.h>        // mkdtemp, posix_openpt, grantpt, unlockpt, ptsname
#include <sys/resource.h>  // setrlimit: a write that fails half-way (RLIMIT_FSIZE), little memory (RLIMIT_AS); rusage
#include <sys/stat.h>      // mkfifo, stat
#include <sys/wait.h>      // wait4: the exit and the child's peak memory
#include <unistd.h>        // fork, execve, pipe2, dup2

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
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

extern char** environ;

namespace quorrel::cli_testing {

namespace fs = std::filesystem;

inline const std::string tool = QUORREL_SPLIT;

// ---------------------------------------------------------------------------
// Folders and files

// A fresh folder from mkdtemp, removed with everything in it at the end.
class temp_folder {
 public:
  temp_folder() {
    std::string pattern = (fs::temp_directory_path() / "quorrel-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~temp_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

inline void write_file(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Everything under a folder, by path relative to it: a file maps to its
// bytes, a folder is listed as "name/" and anything else as "name?", both
// with no bytes. Links are listed, not followed.
using listing = std::map<std::string, std::string>;

inline listing folder_contents(const std::string& folder) {
  listing found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_symlink()) found[name + "@"] = fs::read_symlink(entry.path()).string();
    else if (entry.is_directory()) found[name + "/"] = "";
    else if (entry.is_regular_file()) found[name] = read_file(entry.path().string());
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
inline listing with_pieces(listing before, const std::string& prefix, const std::vector<std::string>& pieces) {
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
  bool hung = false;           // killed at the watchdog's deadline
  long peak_memory_kib = 0;    // the child's maximum resident set size
};

inline std::ostream& operator<<(std::ostream& os, const outcome& o) {
  return os << "exit " << o.exit_code << ", signal " << o.signal << (o.hung ? " (hung, killed)" : "")
            << "\nstdout: " << o.out << "\nstderr: " << o.err;
}

struct launch {
  std::string cwd;               // the tool's working folder ("": this process's)
  int cwd_fd = -1;               // or an open folder, for one whose path is too long to name
  bool stderr_terminal = false;  // stderr on a pseudo-terminal instead of a pipe
  rlim_t file_size_limit = RLIM_INFINITY;
  rlim_t address_space_limit = RLIM_INFINITY;  // RLIMIT_AS: allocations past it fail
  std::optional<uid_t> user;     // run as this user and group (root drops its rights)
  std::vector<int> ignored_signals;  // ignored when the tool starts, as after nohup or trap ''
  std::string stdout_file;       // stdout written to this file (/dev/full) instead of a pipe
  bool stdout_reader_gone = false;  // stdout a pipe whose reader closed it before the tool writes
  // A watchdog, not a performance target: a run still going after this long
  // is taken to hang, killed, and reported as hung.
  std::chrono::seconds deadline{0};
};

// The user that root becomes to meet permissions (nobody).
inline constexpr uid_t unprivileged_user = 65534;

// This process's environment with a UTF-8 locale whose system messages are
// in English, and no POSIXLY_CORRECT to change how options are parsed.
inline std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view entry = *e;
    if (entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=") ||
        entry.starts_with("POSIXLY_CORRECT="))
      continue;
    env.emplace_back(entry);
  }
  env.emplace_back("LC_ALL=C.UTF-8");
  return env;
}

class process {
 public:
  explicit process(const std::vector<std::string>& args, const launch& how = {}) {
    std::vector<std::string> env = child_environment();
    std::vector<char*> argv{const_cast<char*>(tool.c_str())}, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    if (how.stderr_terminal) {
      err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (err[0] < 0 || ::grantpt(err[0]) != 0 || ::unlockpt(err[0]) != 0)
        throw std::runtime_error("no pseudo-terminal");
      err[1] = ::open(::ptsname(err[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (err[1] < 0) throw std::runtime_error("cannot open the pseudo-terminal");
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe2 failed");
    }
    const int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out_file = how.stdout_file.empty() ? -1 : ::open(how.stdout_file.c_str(), O_WRONLY | O_CLOEXEC);
    if (!how.stdout_file.empty() && out_file < 0) throw std::runtime_error("cannot open " + how.stdout_file);

    pid_ = ::fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls from here to execve.
      if (how.cwd_fd >= 0 && ::fchdir(how.cwd_fd) != 0) ::_exit(127);
      if (!how.cwd.empty() && ::chdir(how.cwd.c_str()) != 0) ::_exit(127);
      ::dup2(null_in, 0);
      ::dup2(out_file >= 0 ? out_file : out[1], 1);
      ::dup2(err[1], 2);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) ::signal(signal, SIG_DFL);
      for (const int signal : how.ignored_signals) ::signal(signal, SIG_IGN);
      if (how.file_size_limit != RLIM_INFINITY) {
        ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        const rlimit limit{how.file_size_limit, how.file_size_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      if (how.address_space_limit != RLIM_INFINITY) {
        const rlimit limit{how.address_space_limit, how.address_space_limit};
        ::setrlimit(RLIMIT_AS, &limit);
      }
      if (how.user) {
        const gid_t group = *how.user;
        if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(*how.user) != 0) ::_exit(126);
      }
      ::execve(tool.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(null_in);
    if (out_file >= 0) ::close(out_file);
    ::close(out[1]);
    ::close(err[1]);
    out_ = out[0];
    if (out_file >= 0 || how.stdout_reader_gone) {
      ::close(out_);
      out_ = -1;
    }
    err_ = err[0];
    if (pid_ < 0) throw std::runtime_error("fork failed");
    deadline_ = how.deadline;
    started_ = std::chrono::steady_clock::now();
  }

  ~process() {
    if (!finished_) {
      if (!reaped_) ::kill(pid_, SIGKILL);
      finish();
    }
  }
  process(const process&) = delete;
  process& operator=(const process&) = delete;

  pid_t pid() const { return pid_; }

  bool running() {
    if (reaped_) return false;
    if (::wait4(pid_, &status_, WNOHANG, &usage_) == pid_) reaped_ = true;
    return !reaped_;
  }

  // Stops it (SIGSTOP) and waits until it is stopped; false if it had ended.
  bool pause() {
    if (reaped_ || ::kill(pid_, SIGSTOP) != 0) return false;
    for (;;) {
      int status = 0;
      if (::wait4(pid_, &status, WUNTRACED, &usage_) != pid_) {
        if (errno == EINTR) continue;
        return false;
      }
      if (WIFSTOPPED(status)) return true;
      status_ = status;
      reaped_ = true;
      return false;
    }
  }
  void resume() { ::kill(pid_, SIGCONT); }

  // Reads both streams to their end and waits for the exit.
  outcome finish() {
    outcome result;
    std::string* sinks[] = {&result.out, &result.err};
    int fds[] = {out_, err_};
    char buffer[65536];
    while (fds[0] >= 0 || fds[1] >= 0) {
      pollfd polled[2];
      int count = 0, which[2];
      for (int i = 0; i < 2; ++i)
        if (fds[i] >= 0) {
          polled[count] = {fds[i], POLLIN, 0};
          which[count++] = i;
        }
      if (::poll(polled, static_cast<nfds_t>(count), poll_timeout(result)) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      for (int k = 0; k < count; ++k) {
        if (polled[k].revents == 0) continue;
        const int i = which[k];
        const ssize_t got = ::read(fds[i], buffer, sizeof buffer);
        if (got > 0) {
          sinks[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
          // A pseudo-terminal reports EIO once its other side is closed.
          ::close(fds[i]);
          fds[i] = -1;
        }
      }
    }
    while (!reaped_) {
      const pid_t got = ::wait4(pid_, &status_, deadline_.count() > 0 ? WNOHANG : 0, &usage_);
      if (got == pid_) reaped_ = true;
      else if (got < 0 && errno != EINTR) break;
      else if (got == 0) ::poll(nullptr, 0, poll_timeout(result));
    }
    result.peak_memory_kib = usage_.ru_maxrss;
    finished_ = true;
    if (WIFEXITED(status_)) result.exit_code = WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) result.signal = WTERMSIG(status_);
    return result;
  }

 private:
  // How long poll may wait: forever without a deadline, else until it,
  // after which the child is killed.
  int poll_timeout(outcome& result) {
    if (deadline_.count() == 0) return -1;
    const auto left = deadline_ - (std::chrono::steady_clock::now() - started_);
    if (left > std::chrono::milliseconds(0))
      return static_cast<int>(std::min<std::int64_t>(
          100, std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1));
    if (!reaped_ && !result.hung) {
      result.hung = true;
      ::kill(pid_, SIGKILL);
    }
    return 100;
  }

  pid_t pid_ = -1;
  std::chrono::seconds deadline_{0};
  std::chrono::steady_clock::time_point started_;
  rusage usage_{};
  int out_ = -1, err_ = -1;
  int status_ = 0;
  bool reaped_ = false;
  bool finished_ = false;
};

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
inline const std::string usage_hint = "Try 'quorrel-split --help' for more information.\n";

// Three chapters, as most cases need.
inline const std::string three_chapters = "第一章 起\r\n甲\r\n第二章 承\r\n乙\r\n第三章 转\r\n丙\r\n";
inline const std::vector<std::string> three_pieces = {"第一章 起\r\n甲\r\n", "第二章 承\r\n乙\r\n",
                                               "第三章 转\r\n丙\r\n"};

}  // namespace quorrel::cli_testing

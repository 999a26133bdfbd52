#pragma once
// The child process of split_process.h on Linux: fork and execve, stdout and
// stderr through pipes (or a pseudo-terminal) drained together with poll, the
// exit status and peak memory from wait4, and a watchdog that SIGKILLs a
// child past its deadline. Every launch option is honoured here. Included by
// split_process.h only.

#include <fcntl.h>   // open, O_CLOEXEC
#include <grp.h>     // setgroups: a child that is not root
#include <poll.h>    // poll: stdout and stderr are drained together
#include <signal.h>  // kill, sigprocmask
#include <stdlib.h>  // posix_openpt, grantpt, unlockpt, ptsname
#include <sys/resource.h>  // setrlimit: a write that fails half-way (RLIMIT_FSIZE), little memory (RLIMIT_AS); rusage
#include <sys/stat.h>  // mkfifo, stat, for the tests that include this
#include <sys/wait.h>  // wait4: the exit and the child's peak memory
#include <unistd.h>    // fork, execve, pipe2, dup2

#include <cerrno>

extern char** environ;

namespace quorrel::cli_testing {

static_assert(no_limit == RLIM_INFINITY);

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
      if (how.file_size_limit != no_limit) {
        // A write past the limit then fails with EFBIG, unless the tool is
        // left to ignore the signal by itself.
        ::signal(SIGXFSZ, how.file_size_signal ? SIG_DFL : SIG_IGN);
        const rlimit limit{how.file_size_limit, how.file_size_limit};
        ::setrlimit(RLIMIT_FSIZE, &limit);
      }
      if (how.address_space_limit != no_limit) {
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

}  // namespace quorrel::cli_testing

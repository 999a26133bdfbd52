#pragma once
// The child process of split_process.h on Windows: CreateProcessW with a
// UTF-16 command line quoted as CommandLineToArgvW reads it back, stdout and
// stderr through two pipes drained by a thread each, the exit code, and a
// watchdog that TerminateProcess-es a child past its deadline. The tool is
// quorrel-split.exe beside the running test. Options only POSIX has (limits,
// a user, ignored signals, a terminal, an open folder, a stdout file) throw:
// a case that asks for one is kept off Windows. Included by split_process.h
// only.

#include <windows.h>

#include <thread>

#include "core/win32_support.h"

namespace quorrel::cli_testing {

namespace win32 {

using quorrel::win32::widen;
using handle = quorrel::win32::unique_kernel;

// Quoted as CommandLineToArgvW reads it back: backslashes are literal
// except before a quote.
inline std::wstring quoted(std::wstring_view argument) {
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

inline std::wstring tool_beside_this_program() {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return fs::path(self).replace_filename(fs::path(tool).filename()).wstring();
}

// A pipe whose read end stays here and whose write end the child inherits.
inline void inheritable_pipe(handle& read, handle& write) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE r = nullptr, w = nullptr;
  if (!CreatePipe(&r, &w, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
  read.reset(r);
  write.reset(w);
  SetHandleInformation(r, HANDLE_FLAG_INHERIT, 0);
}

}  // namespace win32

class process {
 public:
  explicit process(const std::vector<std::string>& args, const launch& how = {}) {
    if (how.cwd_fd >= 0 || how.stderr_terminal || how.file_size_limit != no_limit ||
        how.address_space_limit != no_limit || how.user || !how.ignored_signals.empty() ||
        !how.stdout_file.empty())
      throw std::runtime_error("a launch option that only POSIX systems have");
    const std::wstring program = win32::tool_beside_this_program();
    std::wstring line = win32::quoted(program);
    for (const auto& a : args) line += L" " + win32::quoted(win32::widen(a));

    win32::handle out_write, err_write;
    win32::inheritable_pipe(out_, out_write);
    win32::inheritable_pipe(err_, err_write);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const win32::handle null_in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in.get();
    startup.hStdOutput = out_write.get();
    startup.hStdError = err_write.get();
    const std::wstring cwd = win32::widen(how.cwd);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &info))
      throw std::runtime_error("CreateProcessW failed: error " + std::to_string(GetLastError()));
    child_.reset(info.hProcess);
    CloseHandle(info.hThread);
    // Only the child holds the write ends now, so the reads end with it.
    if (how.stdout_reader_gone) out_.reset();
    deadline_ = how.deadline;
    started_ = std::chrono::steady_clock::now();
  }

  ~process() {
    if (!finished_) {
      TerminateProcess(child_.get(), 1);
      finish();
    }
  }
  process(const process&) = delete;
  process& operator=(const process&) = delete;

  bool running() const { return WaitForSingleObject(child_.get(), 0) == WAIT_TIMEOUT; }

  // Reads both streams to their end and waits for the exit.
  outcome finish() {
    outcome result;
    auto drain = [](HANDLE from, std::string& into) {
      char buffer[65536];
      DWORD got = 0;
      while (from != nullptr && ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0)
        into.append(buffer, got);
    };
    std::thread out_reader(drain, out_.get(), std::ref(result.out));
    std::thread err_reader(drain, err_.get(), std::ref(result.err));
    DWORD wait = INFINITE;
    if (deadline_.count() > 0) {
      const auto left = deadline_ - (std::chrono::steady_clock::now() - started_);
      wait = static_cast<DWORD>(
          std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(left).count()));
    }
    if (WaitForSingleObject(child_.get(), wait) == WAIT_TIMEOUT) {
      result.hung = true;
      TerminateProcess(child_.get(), 1);
      WaitForSingleObject(child_.get(), INFINITE);
    }
    out_reader.join();
    err_reader.join();
    DWORD code = 0;
    GetExitCodeProcess(child_.get(), &code);
    result.exit_code = static_cast<int>(code);
    finished_ = true;
    return result;
  }

 private:
  win32::handle child_, out_, err_;
  std::chrono::seconds deadline_{0};
  std::chrono::steady_clock::time_point started_;
  bool finished_ = false;
};

}  // namespace quorrel::cli_testing

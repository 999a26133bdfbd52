#include "core/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace quorrel {
namespace {

// Console events under the numbers a POSIX shell knows them by, so that
// exit_status_for_signal gives 130 for Ctrl+C on every system.
constexpr int hang_up = 1;

std::atomic<int> caught{0};

int signal_for(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    case CTRL_CLOSE_EVENT: return hang_up;  // the console window goes away
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: return SIGTERM;
    default: return 0;
  }
}

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI on_console_event(DWORD event) {
  const int signal = signal_for(event);
  if (signal == 0) return FALSE;
  int none = 0;
  caught.compare_exchange_strong(none, signal);
  // After a close, log-off or shut-down the system ends the process as soon
  // as this returns: wait here instead, so the run can stop at a line and
  // the program exit by itself (the system still ends it after a few
  // seconds).
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

// A process started with Ctrl+C ignored (CREATE_NEW_PROCESS_GROUP, or
// SetConsoleCtrlHandler(NULL, TRUE) in its parent) never sees it in a
// handler: that choice stays as the caller made it.
void catch_stop_signals() { SetConsoleCtrlHandler(on_console_event, TRUE); }

int stop_signal() { return caught.load(std::memory_order_relaxed); }

// Reads and writes are not cut short here: the waits on the writer watch the
// stop instead, and the writer ends at its next call.
bool interrupt_thread(std::thread&) { return false; }

bool interrupted_by_stop() { return stop_signal() != 0; }

}  // namespace quorrel

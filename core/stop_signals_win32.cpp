#include "core/stop_signals.h"

#include <pthread.h>  // pthread_gethandle: the system's thread behind a std::thread
#include <windows.h>

#include <atomic>
#include <csignal>

#include "core/win32_stop.h"

namespace quorrel {
namespace {

// Console events under the numbers a POSIX shell knows them by, so that
// exit_status_for_signal gives 130 for Ctrl+C on every system.
constexpr int hang_up = 1;

std::atomic<int> caught{0};

// Threads inside a stoppable call. CancelSynchronousIo cancels whatever
// the thread waits on in the system, so it is aimed only at a thread listed
// here, and under the lock that the thread needs to leave the list: a call
// that ended meanwhile leaves its thread waiting on the lock, where nothing
// is cancelled. Only the main thread and the writer read and write; a
// thread that finds the table full is simply not cut short.
constexpr int call_slots = 8;
SRWLOCK calls_lock = SRWLOCK_INIT;
DWORD in_call[call_slots] = {};

// True when `id` was inside a stoppable call and its wait was cancelled.
bool cancel_call(HANDLE thread, DWORD id) {
  bool cancelled = false;
  AcquireSRWLockExclusive(&calls_lock);
  for (const DWORD listed : in_call)
    if (listed == id) {
      cancelled = CancelSynchronousIo(thread) != FALSE;
      break;
    }
  ReleaseSRWLockExclusive(&calls_lock);
  return cancelled;
}

bool in_stoppable_call(DWORD id) {
  AcquireSRWLockShared(&calls_lock);
  bool found = false;
  for (const DWORD listed : in_call) found = found || listed == id;
  ReleaseSRWLockShared(&calls_lock);
  return found;
}

// The thread that called catch_stop_signals(), whose blocked read a console
// stop cuts short.
HANDLE stopping_thread = nullptr;
DWORD stopping_thread_id = 0;

// A call the stopping thread was about to make when the stop came is not
// waiting yet and cannot be cancelled: asked again each tick while that
// thread stays in its call, for up to a second.
void cut_stopping_thread_short() {
  if (!stopping_thread) return;
  for (int tick = 0; tick < 50 && in_stoppable_call(stopping_thread_id); ++tick) {
    cancel_call(stopping_thread, stopping_thread_id);
    Sleep(20);
  }
}

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
  cut_stopping_thread_short();
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
void catch_stop_signals() {
  if (!stopping_thread &&
      DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &stopping_thread,
                      THREAD_TERMINATE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0))
    stopping_thread_id = GetCurrentThreadId();
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int stop_signal() { return caught.load(std::memory_order_relaxed); }

// The waits on the writer call this every tick while it stops, so a call it
// was only about to make when first asked is cut short at the next.
bool interrupt_thread(std::thread& thread) {
  if (!thread.joinable()) return false;
  const HANDLE native = static_cast<HANDLE>(pthread_gethandle(thread.native_handle()));
  if (!native) return false;
  cancel_call(native, GetThreadId(native));
  return true;
}

bool interrupted_by_stop() { return stop_signal() != 0; }

stoppable_call::stoppable_call() : slot_(-1) {
  const DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&calls_lock);
  for (int i = 0; i < call_slots && slot_ < 0; ++i)
    if (in_call[i] == 0) {
      in_call[i] = self;
      slot_ = i;
    }
  ReleaseSRWLockExclusive(&calls_lock);
}

stoppable_call::~stoppable_call() {
  if (slot_ < 0) return;
  AcquireSRWLockExclusive(&calls_lock);
  in_call[slot_] = 0;
  ReleaseSRWLockExclusive(&calls_lock);
}

}  // namespace quorrel

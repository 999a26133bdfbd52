#pragma once
// Hang-up, interrupt and terminate (SIGHUP, SIGINT, SIGTERM) as a request to
// stop: the run ends at the next line boundary with every piece complete,
// like a close of the window, instead of dying mid-piece.
//
// catch_stop_signals() installs the handler for each of the three that is
// not ignored: a signal the caller ignored when it started us (nohup,
// trap '' INT) stays ignored. The handlers do not restart what they
// interrupt: a read or write waiting on the system returns EINTR, and the
// caller ends it instead of retrying (see interrupted_by_stop()). A signal
// that lands on another thread is passed on to the thread that called
// catch_stop_signals(), so the main thread is never left waiting. It also
// ignores SIGXFSZ: a piece past the file size limit is a failed write, with
// the system's reason, not a killed process. stop_signal() is safe to poll
// from any thread.

#include <thread>

namespace quorrel {

void catch_stop_signals();

// The first stop signal caught, or 0.
int stop_signal();

// The exit status a shell expects of a program stopped by `signal`.
constexpr int exit_status_for_signal(int signal) { return 128 + signal; }

// Cuts short the system call `thread` is waiting in (it fails with EINTR),
// and makes every later EINTR on that thread final. Does nothing and says
// false where catch_stop_signals() has not installed the means to (a thread
// is never sent a signal that has no handler). On Windows only a read or
// write of core/file.h is cut short (it fails with ERROR_OPERATION_ABORTED),
// with or without catch_stop_signals(); a console stop cuts short the read
// or write of the thread that called catch_stop_signals() the same way.
bool interrupt_thread(std::thread& thread);

// Whether a call that failed with EINTR on this thread was cut short by a
// stop (a stop signal caught, or interrupt_thread() aimed at this thread):
// then it must end, not be retried.
bool interrupted_by_stop();

}  // namespace quorrel

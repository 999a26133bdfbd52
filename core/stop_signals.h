#pragma once
// Hang-up, interrupt and terminate (SIGHUP, SIGINT, SIGTERM) as a request to
// stop: the run ends at the next line boundary with every piece complete,
// like a close of the window, instead of dying mid-piece.
//
// catch_stop_signals() installs the handler for each of the three that is
// not ignored: a signal the caller ignored when it started us (nohup,
// trap '' INT) stays ignored. stop_signal() is safe to poll from any thread.

namespace quorrel {

void catch_stop_signals();

// The first stop signal caught, or 0.
int stop_signal();

// The exit status a shell expects of a program stopped by `signal`.
constexpr int exit_status_for_signal(int signal) { return 128 + signal; }

}  // namespace quorrel

#include "core/stop_signals.h"

#include <pthread.h>  // pthread_kill: a signal passed on, or a blocked call cut short

#include <atomic>
#include <csignal>

namespace quorrel {
namespace {

// Cuts a thread's blocked call short. SIGURG is ignored by default and sent
// by nothing the program uses, so its handler can mean exactly this.
constexpr int interrupt_signal = SIGURG;

std::atomic<int> caught{0};
std::atomic<bool> handlers_installed{false};
pthread_t stopping_thread;  // set before the handlers are installed
thread_local volatile std::sig_atomic_t interrupted = 0;
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void on_stop_signal(int signal) {
  int none = 0;
  caught.compare_exchange_strong(none, signal);
  // The main thread may be waiting in a read while the signal landed on
  // another: it gets its own EINTR.
  if (!pthread_equal(pthread_self(), stopping_thread)) pthread_kill(stopping_thread, signal);
}

extern "C" void on_interrupt(int) { interrupted = 1; }

// No SA_RESTART: a call the signal interrupts returns EINTR.
void install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ::sigaction(signal, &action, nullptr);
}

}  // namespace

void catch_stop_signals() {
  stopping_thread = pthread_self();
  std::signal(SIGXFSZ, SIG_IGN);
  install(interrupt_signal, on_interrupt);
  for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    install(signal, on_stop_signal);
  }
  handlers_installed = true;
}

int stop_signal() { return caught.load(std::memory_order_relaxed); }

bool interrupt_thread(std::thread& thread) {
  if (!handlers_installed || !thread.joinable()) return false;
  return pthread_kill(thread.native_handle(), interrupt_signal) == 0;
}

bool interrupted_by_stop() { return stop_signal() != 0 || interrupted != 0; }

}  // namespace quorrel

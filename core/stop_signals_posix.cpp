#include "core/stop_signals.h"

#include <atomic>
#include <csignal>

namespace quorrel {
namespace {

std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void on_stop_signal(int signal) {
  int none = 0;
  caught.compare_exchange_strong(none, signal);
}

}  // namespace

void catch_stop_signals() {
  for (const int signal : {SIGHUP, SIGINT, SIGTERM}) {
    struct sigaction current{};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction stop{};
    stop.sa_handler = on_stop_signal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;  // reads and writes go on; the run polls stop_signal()
    ::sigaction(signal, &stop, nullptr);
  }
}

int stop_signal() { return caught.load(std::memory_order_relaxed); }

}  // namespace quorrel

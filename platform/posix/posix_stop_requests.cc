#include <signal.h>

#include <atomic>

#include "platform/stop_requests.h"

namespace plat {

namespace {

// Written by the handler alone: a lock-free atomic store is safe there.
std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void NoteStop(int signal_number) { requested.store(128 + signal_number); }

}  // namespace

void CatchStopRequests() {
  struct sigaction action = {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  // Back to the default after one: a second Ctrl-C ends the process.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopRequested() { return requested.load(); }

}  // namespace plat

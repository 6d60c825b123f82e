#include "util/thread_start.h"

#include <atomic>
#include <system_error>

namespace util {

namespace {

std::atomic<int> g_starts_left{-1};

// True when the test limit lets one more thread start (or there is none).
bool TakeOneStart() {
  int left = g_starts_left.load();
  while (left >= 0) {
    if (left == 0) return false;
    if (g_starts_left.compare_exchange_weak(left, left - 1)) return true;
  }
  return true;
}

}  // namespace

bool StartThread(std::vector<std::thread>* threads, const std::function<void()>& body) {
  if (!TakeOneStart()) return false;
  try {
    threads->emplace_back(body);
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void LimitThreadStartsForTest(int starts) { g_starts_left = starts < 0 ? -1 : starts; }

}  // namespace util

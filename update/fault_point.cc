#include "update/fault_point.h"

#include <atomic>

namespace update {

namespace {

FaultHook g_hook = nullptr;
// Files are fetched and staged by several threads at once.
std::atomic<int> g_passed{0};

}  // namespace

void SetFaultHook(FaultHook hook) {
  g_hook = hook;
  g_passed = 0;
}

void FaultPoint() {
  int passed = ++g_passed;
  if (g_hook != nullptr) g_hook(passed);
}

int FaultPointsPassed() { return g_passed; }

}  // namespace update

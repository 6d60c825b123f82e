#include "update/fault_point.h"

namespace update {

namespace {

FaultHook g_hook = nullptr;
int g_passed = 0;

}  // namespace

void SetFaultHook(FaultHook hook) {
  g_hook = hook;
  g_passed = 0;
}

void FaultPoint() {
  ++g_passed;
  if (g_hook != nullptr) g_hook(g_passed);
}

int FaultPointsPassed() { return g_passed; }

}  // namespace update

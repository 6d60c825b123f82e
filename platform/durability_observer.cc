#include "platform/durability_observer.h"

namespace plat {

namespace {

DurabilityObserver* g_observer = nullptr;

}  // namespace

void SetDurabilityObserver(DurabilityObserver* observer) { g_observer = observer; }

DurabilityObserver* CurrentDurabilityObserver() { return g_observer; }

}  // namespace plat

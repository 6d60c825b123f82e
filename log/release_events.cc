#include "log/release_events.h"

namespace {

// The host calls the library from one thread at a time.
ReleaseObserver* g_observer = nullptr;

}  // namespace

void SetReleaseObserver(ReleaseObserver* observer) { g_observer = observer; }

ReleaseObserver* GetReleaseObserver() { return g_observer; }

// For the filedist program, which links the library's code directly: it
// watches its release builds instead of reading their standard output.
// Hosts of the exported functions do not see this.
#ifndef FILEDIST_INTERFACE_BUILD_HOOKS_H
#define FILEDIST_INTERFACE_BUILD_HOOKS_H

#include "log/release_events.h"

// Sets the observer of the following BuildVer calls; null gives the
// standard output lines back. Not owned.
void WatchReleaseBuilds(ReleaseObserver* observer);

#endif  // FILEDIST_INTERFACE_BUILD_HOOKS_H

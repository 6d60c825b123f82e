// For the filedist program, which links the library's code directly: it
// watches its release builds instead of reading their standard output.
// Hosts of the exported functions do not see this.
#ifndef FILEDIST_INTERFACE_BUILD_HOOKS_H
#define FILEDIST_INTERFACE_BUILD_HOOKS_H

#include "log/release_events.h"

// Sets the observer of the following BuildVer calls; null gives the
// standard output lines back. Not owned.
void WatchReleaseBuilds(ReleaseObserver* observer);

// How many of the newest earlier releases the following BuildVer calls make
// binary patches from (release/release_patches.h); 0 makes none. Hosts of
// the exported functions get kDefaultPatchWindow.
void SetReleasePatchWindow(int releases);

#endif  // FILEDIST_INTERFACE_BUILD_HOOKS_H

// For the filedist program, which links the library's code directly: it
// watches its release builds instead of reading their standard output.
// Hosts of the exported functions do not see this.
#ifndef FILEDIST_INTERFACE_BUILD_HOOKS_H
#define FILEDIST_INTERFACE_BUILD_HOOKS_H

#include <string>

#include "log/release_events.h"

// Sets the observer of the following BuildVer calls; null gives the
// standard output lines back. Not owned.
void WatchReleaseBuilds(ReleaseObserver* observer);

// Makes dir the packer directory of the following BuildVer calls (where
// Filters.ini is read, VerComp.dat, Ver, BuildVer.log and BuildVer.lock go,
// and relative paths are resolved) in place of the program's own folder,
// which an installed program cannot write to; empty gives the program's
// folder back. Call it before the log is first opened.
void SetPackerDirectory(const std::string& dir);

#endif  // FILEDIST_INTERFACE_BUILD_HOOKS_H

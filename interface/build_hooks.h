// For the filedist program, which links the library's code directly: it
// watches its release builds instead of reading their standard output.
// Hosts of the exported functions do not see this.
#ifndef FILEDIST_INTERFACE_BUILD_HOOKS_H
#define FILEDIST_INTERFACE_BUILD_HOOKS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

// Points channel at the patch directory patchName of releaseDir, offered to
// rollout percent of installs and expiring after expiresDays days (negative:
// never) (the
// default channel's LATEST too), signed through signer where it is set
// (release/channel_publish.h). *pointerSequence gets the new pointer's
// number. False, with *error set.
bool PublishReleaseChannel(const std::string& releaseDir, const std::string& channel,
                           const std::string& patchName, int rollout, int expiresDays,
                           const std::function<bool(const std::string&, std::string*)>& signer,
                           uint64_t* pointerSequence, std::string* error);

// Removes the patch directories of releaseDir that neither the newest keep
// nor the newest deltaWindow releases hold, nor a channel pointer or LATEST
// names (release/prune_releases.h); with dryRun, removes nothing.
// *entries gets every patch directory, oldest first, with what keeps it (an
// empty reason: it goes), *failed those that could not be removed. False,
// with *error set, when nothing could be decided.
bool PruneReleaseFolder(const std::string& releaseDir, int keep, int deltaWindow, bool dryRun,
                        std::vector<std::pair<std::string, std::string>>* entries,
                        std::vector<std::string>* failed, std::string* error);

// How many of the newest earlier releases the following BuildVer calls make
// binary patches from (release/release_patches.h); 0 makes none. Hosts of
// the exported functions get kDefaultPatchWindow.
void SetReleasePatchWindow(int releases);

#endif  // FILEDIST_INTERFACE_BUILD_HOOKS_H

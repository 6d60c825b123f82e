// What an update session remembers between runs: the source and channel an
// update recorded in the install folder's .filedist-install
// (update/install_status.h), so that a later session (or `filedist update`)
// needs neither, and the last channel pointer it took, below which a pointer
// served again is refused.
#ifndef FILEDIST_UPDATER_REMEMBERED_SOURCE_H
#define FILEDIST_UPDATER_REMEMBERED_SOURCE_H

#include <cstdint>
#include <string>

#include "update/update_engine.h"

namespace updater {

// The source as it is to be remembered: a URL as given, a folder made
// absolute, since the next run may start from another current directory.
std::string SourceToRemember(const std::string& given);

// The source an earlier update recorded in install_dir. False, with *error
// set and *failure its kind, when none was recorded (kUsage) or the record
// is damaged (kDisk).
bool RememberedSource(const std::string& install_dir, std::string* source,
                      update::UpdateFailure* failure, std::string* error);

// After a successful update: the source given, the channel followed and the
// sequence of the pointer taken from it (0: none), the patch directory the
// run installed from (its location) and what the engine found. False, with
// *error set, when the record could not be written.
bool RecordInstalledRelease(const std::string& install_dir, const std::string& source_given,
                            const std::string& channel, uint64_t pointer,
                            const std::string& patch_location, const update::UpdateOutcome& outcome,
                            std::string* error);

// After a failed update of a folder no update has recorded itself in yet:
// keeps the source given and the channel (empty: the default) so that the
// update can be run again without them. Best effort: the failure is what
// the caller reports.
void RecordTriedSource(const std::string& install_dir, const std::string& source_given,
                       const std::string& channel);

// The location's folder: all but its last component ("" where it has one).
std::string ParentOf(const std::string& location);

// The patch directory's name: the last component of its location.
std::string PatchNameOf(const std::string& location);

}  // namespace updater

#endif  // FILEDIST_UPDATER_REMEMBERED_SOURCE_H

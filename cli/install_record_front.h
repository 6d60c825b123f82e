// What `filedist update` remembers between runs and what `--check` answers:
// the source and channel recorded in the install folder's .filedist-install
// (update/install_status.h), so that a later `filedist update` needs none.
#ifndef FILEDIST_CLI_INSTALL_RECORD_FRONT_H
#define FILEDIST_CLI_INSTALL_RECORD_FRONT_H

#include <cstdint>
#include <string>

#include "updater/release_source.h"

#include "update/update_engine.h"

// The exit status of `update --check` when a newer release is available (0:
// up to date, 1: the check failed).
constexpr int kUpdateAvailableStatus = 3;

// The source as it is to be remembered: a URL as given, a folder made
// absolute, since the next run may start from another current directory.
std::string SourceToRemember(const std::string& given);

// The source an earlier update recorded in install_dir. False, with *error
// set, when none was recorded or the record is damaged.
bool RememberedSource(const std::string& install_dir, std::string* source, std::string* error);

// After a successful update: the source given, the patch directory the run
// installed from (its location) and what the engine found. False, with
// *error set, when the record could not be written.
bool RecordInstalledRelease(const std::string& install_dir, const std::string& source_given,
                            const std::string& channel, uint64_t pointer,
                            const std::string& patch_location, const update::UpdateOutcome& outcome,
                            std::string* error);

// Turns a releases folder into the patch directory its channel names: the
// pointer channel.NAME where the folder has one (signed by trusted_key when
// that is set, and no older than last_pointer), else for the default
// channel LATEST as before; without a trusted key the default channel
// follows LATEST alone, as clients did before channels. A patch directory
// stays as it is. follow gets the pointer's sequence (0 for none) and the
// release number a verified pointer binds (0 for none). False, with *error
// set.
// A pointer that offers its release to a share of installs (a rollout)
// leaves an install outside that share where it is: *held_back is set and
// the source is not moved. A new install (installed_patch empty) outside it
// takes the stable channel's LATEST, the release before the rollout.
struct ChannelFollow {
  uint64_t pointer = 0;
  uint64_t expected_sequence = 0;
  bool held_back = false;
  std::string offered;  // the patch directory the pointer names
  int rollout = 100;
};
bool FollowChannel(ReleaseSource* source, const std::string& channel,
                   const std::string& trusted_key, uint64_t last_pointer,
                   const std::string& install_dir, const std::string& installed_patch,
                   ChannelFollow* follow, std::string* error);

// True when the dry run's outcome leaves nothing to do.
bool IsUpToDate(const update::UpdateOptions& options, const update::UpdateOutcome& outcome);

// The patch directory's name: the last component of its location.
std::string PatchNameOf(const std::string& location);

#endif  // FILEDIST_CLI_INSTALL_RECORD_FRONT_H

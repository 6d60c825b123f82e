// Following a channel of a releases folder, as a session does when the host
// names one (the "channel" option) or the session remembers one: the signed
// pointer channel.NAME (protocol/channel_pointer.h) is read beside LATEST,
// checked against the trusted key, the channel and the last pointer this
// install took from it (update/channel_choice.h), and, where it offers its
// release to a share of installs only, against the install's identifier
// (update/rollout.h). The source then names the patch directory to take.
#ifndef FILEDIST_UPDATER_CHANNEL_FOLLOW_H
#define FILEDIST_UPDATER_CHANNEL_FOLLOW_H

#include <cstdint>
#include <string>

#include "update/update_engine.h"
#include "updater/release_source.h"

namespace updater {

// What following a channel found.
struct ChannelFollow {
  std::string channel;             // the channel followed
  uint64_t pointer = 0;            // the pointer's sequence (0: none, LATEST was taken)
  uint64_t expected_sequence = 0;  // the release number a verified pointer binds (0: none)
  bool held_back = false;          // outside the rollout: nothing new for this install yet
  std::string offered;             // the patch directory the pointer names
  int rollout = 100;
  // Why following failed: kNetwork for a file the source does not have,
  // kRefused for a pointer that must not be taken, kDisk for the install's
  // identifier.
  update::UpdateFailure failure = update::UpdateFailure::kNone;
};

// Turns a releases folder into the patch directory its channel names: the
// pointer channel.NAME where the folder has one (signed by trusted_key when
// that is set, and no older than last_pointer), else for the default
// channel LATEST as before; without a trusted key the default channel
// follows LATEST alone, as clients did before channels. A patch directory
// stays as it is. False, with *error set and follow->failure its kind.
// A pointer that offers its release to a share of installs (a rollout)
// leaves an install outside that share where it is: follow->held_back is set
// and the source is not moved. A new install (installed_patch empty)
// outside it takes the stable channel's LATEST, the release before the
// rollout.
bool FollowChannel(ReleaseSource* source, const std::string& channel,
                   const std::string& trusted_key, uint64_t last_pointer,
                   const std::string& install_dir, const std::string& installed_patch,
                   ChannelFollow* follow, std::string* error);

}  // namespace updater

#endif  // FILEDIST_UPDATER_CHANNEL_FOLLOW_H

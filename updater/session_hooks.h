// What the filedist program adds to an update session beyond the C
// interface: it shows the engine's messages, progress and outcome itself
// (on the terminal, or as --json), where a host draws its own.
#ifndef FILEDIST_UPDATER_SESSION_HOOKS_H
#define FILEDIST_UPDATER_SESSION_HOOKS_H

#include <string>

#include "filedist_update.h"
#include "update/update_engine.h"
#include "update/update_reporter.h"
#include "updater/channel_follow.h"

namespace updater {

// Sends the session's messages and progress to reporter as well, and fills
// outcome as its steps go; both must outlive the session's use of them.
void AttachReporter(filedist_update* session, update::UpdateReporter* reporter,
                    update::UpdateOutcome* outcome);

// The options as the session will run with them.
const update::UpdateOptions& SessionOptions(const filedist_update* session);

// Where the release comes from: the source as given, or the patch
// directory its LATEST named once a check followed it.
std::string SourceLocation(const filedist_update* session);

// True when the last check failed on the source itself (no such folder, a
// LATEST that names nothing, a channel pointer refused), before the engine
// began.
bool SourceFailed(const filedist_update* session);

// What the last check's channel gave (an empty channel where it followed
// none): the pointer taken, or an install held back outside a rollout.
const ChannelFollow& FollowedChannel(const filedist_update* session);

}  // namespace updater

#endif  // FILEDIST_UPDATER_SESSION_HOOKS_H

// What `filedist update --check` answers. The source and channel an update
// remembers (.filedist-install) are the updater library's to read, follow
// and record (updater/remembered_source.h, updater/channel_follow.h).
#ifndef FILEDIST_CLI_INSTALL_RECORD_FRONT_H
#define FILEDIST_CLI_INSTALL_RECORD_FRONT_H

#include "update/update_engine.h"

// The exit status of `update --check` when a newer release is available (0:
// up to date, 1: the check failed).
constexpr int kUpdateAvailableStatus = 3;

// True when the dry run's outcome leaves nothing to do.
bool IsUpToDate(const update::UpdateOptions& options, const update::UpdateOutcome& outcome);

#endif  // FILEDIST_CLI_INSTALL_RECORD_FRONT_H

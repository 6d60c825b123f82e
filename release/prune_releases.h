// Retention: removing the older patch directories of a release folder
// without breaking anyone. Kept whatever the count: every directory a
// channel pointer or LATEST names (clients are sent there), and the newest
// releases of the delta window, which the next build reads its earlier
// files and per-file patches from. Under the release folder's lock, so that
// no build or promotion points at a directory while it goes.
#ifndef FILEDIST_RELEASE_PRUNE_RELEASES_H
#define FILEDIST_RELEASE_PRUNE_RELEASES_H

#include <string>
#include <vector>

struct PruneSettings {
  int keep = 0;          // the newest patch directories kept in any case
  int delta_window = 3;  // the newest releases the next build may read
  bool dry_run = false;  // say what would go; remove nothing
};

struct PruneEntry {
  std::string patch;   // Patch_YYYYMMDD_HHMMSS
  std::string reason;  // why it stays ("newest 2", "channel beta", ...); empty: it goes
};

// Every patch directory of releaseDir, oldest first, with what keeps it.
// Those without a reason are removed (unless dry_run); *failed names those
// that could not be. False, with *error set, when nothing could be decided
// (the folder cannot be listed, a channel pointer is damaged, the lock is
// held).
bool PruneReleases(const std::string& releaseDir, const PruneSettings& settings,
                   std::vector<PruneEntry>* entries, std::vector<std::string>* failed,
                   std::string* error);

#endif  // FILEDIST_RELEASE_PRUNE_RELEASES_H

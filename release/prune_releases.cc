#include "release/prune_releases.h"

#include <algorithm>

#include "fileio/io_util.h"
#include "platform/file_lock.h"
#include "platform/platform.h"
#include "release/channel_publish.h"
#include "release/release_preflight.h"
#include "release/release_publish.h"
#include "platform/bounded_file.h"
#include "protocol/patch_dir_name.h"

namespace {

void AddReason(PruneEntry* entry, const std::string& reason) {
  if (!entry->reason.empty()) entry->reason += ", ";
  entry->reason += reason;
}

}  // namespace

bool PruneReleases(const std::string& releaseDir, const PruneSettings& settings,
                   std::vector<PruneEntry>* entries, std::vector<std::string>* failed,
                   std::string* error) {
  entries->clear();
  failed->clear();
  plat::FileLock lock;
  if (!LockReleaseFolder(&lock, releaseDir, error)) return false;
  // A channel a stopped promotion left half published names its release
  // only once completed.
  if (!CompleteChannelPublishing(releaseDir, error)) return false;
  std::vector<plat::DirEntry> listed;
  if (!plat::ListDirectory(releaseDir, &listed)) {
    *error = "cannot list '" + releaseDir + "'";
    return false;
  }
  for (const plat::DirEntry& item : listed) {
    if ((item.attributes & plat::kAttrDirectory) != 0 && IsPatchDirName(item.name)) {
      entries->push_back(PruneEntry{item.name, ""});
    }
  }
  // The names are build times: their order is the releases' order.
  std::sort(entries->begin(), entries->end(),
            [](const PruneEntry& a, const PruneEntry& b) { return a.patch < b.patch; });
  std::vector<ChannelPointer> pointers;
  if (!ReadChannelPointers(releaseDir, &pointers, error)) return false;
  std::string latest;
  if (plat::ReadBoundedFile(plat::ChildPath(releaseDir, kLatestName).c_str(), 256, &latest)) {
    while (!latest.empty() && (latest.back() == '\n' || latest.back() == '\r')) latest.pop_back();
  }
  const size_t count = entries->size();
  for (size_t i = 0; i < count; ++i) {
    PruneEntry& entry = (*entries)[i];
    const size_t from_newest = count - i;  // 1 for the newest
    if (from_newest <= static_cast<size_t>(settings.keep)) {
      AddReason(&entry, "among the newest " + std::to_string(settings.keep));
    }
    if (from_newest <= static_cast<size_t>(settings.delta_window)) {
      AddReason(&entry, "in the delta window of " + std::to_string(settings.delta_window));
    }
    if (entry.patch == latest) AddReason(&entry, "named by LATEST");
    for (const ChannelPointer& pointer : pointers) {
      if (pointer.patch == entry.patch) AddReason(&entry, "channel " + pointer.channel);
    }
  }
  if (settings.dry_run) return true;
  for (const PruneEntry& entry : *entries) {
    if (!entry.reason.empty()) continue;
    std::string path = plat::ChildPath(releaseDir, entry.patch);
    if (!IOUtil_RemoveDirTree(path.c_str())) failed->push_back(entry.patch);
  }
  return true;
}

// BuildVer: the release pipeline's entry point.
#include <string>
#include <utility>
#include <vector>

#include "release/channel_publish.h"
#include "release/earlier_release.h"
#include "release/prune_releases.h"
#include "release/release_dirs.h"
#include "release/release_patches.h"
#include "release/release_preflight.h"
#include "common.h"
#include "fileio/io_util.h"
#include "interface/build_hooks.h"
#include "log/logger.h"
#include "platform/startup_directory.h"
#include "version/file_version.h"

namespace {

int g_patchWindow = kDefaultPatchWindow;

}  // namespace

extern "C" COMMON_API int COMMON_CALL BuildVer(const char* sourceDir, const char* outputDir,
                                               const char* releaseDir, char* patchDirOut) {
  if (g_fileVersion == nullptr) return 0;
  CFileVersion& version = *g_fileVersion;
  version.Reset();
  ReleasePreflight preflight;
  if (!preflight.Check(sourceDir, outputDir, releaseDir)) return 0;
  // What a stopped build left, before the scan could take it in.
  RemovePartialPatchDirs(preflight.release_dir());
  // Known before the scan, so that a release made inside its own source tree
  // does not take in its earlier output or the build's lock files.
  std::vector<std::string> skip_dirs = ReleaseOutputDirs(outputDir, releaseDir);
  for (const std::string& lock : preflight.lock_files()) skip_dirs.push_back(lock);
  // The log, open for writing while the build runs (Windows lets no one
  // key it then), should the packer directory lie in the tree.
  skip_dirs.push_back(Logger::GetLogFilePath());
  version.SetScanSkipDirs(std::move(skip_dirs));
  // Read before the new patch directory is made, which would be the newest.
  std::vector<EarlierRelease> window = FindEarlierReleases(
      preflight.release_dir(), static_cast<size_t>(g_patchWindow > 1 ? g_patchWindow : 1));
  if (!window.empty()) {
    version.SetEarlierRelease(window.front().patchDir, window.front().keys,
                              std::move(window.front().members));
  }
  if (g_patchWindow <= 0) window.clear();
  if (!version.GenerateFileVersionInfo(sourceDir)) return 0;
  if (!version.CompressFileVersionInfo(outputDir)) return 0;
  if (!version.WriteFileVersionInfo()) return 0;
  if (!version.GenerateReleasePatch(releaseDir, patchDirOut)) return 0;
  // Under the release folder's lock still, so that two builds never number
  // their releases alike.
  if (!version.WriteReleaseManifest()) return 0;
  if (!WriteReleasePatches(version, window)) return 0;
  if (!version.PlaceReleasePatch()) return 0;
  // Only a help to the next build, which decodes instead when it is missing.
  version.WriteBuildRecord();
  const std::string& temporary_tree = version.paths().temporary_tree();
  // A source tree inside the temporary tree would go with it.
  if (!IsSameOrInside(version.paths().source_dir(), temporary_tree.c_str())) {
    IOUtil_RemoveDirTree(temporary_tree.c_str());
  }
  return 1;
}

void WatchReleaseBuilds(ReleaseObserver* observer) { SetReleaseObserver(observer); }

void SetPackerDirectory(const std::string& dir) { plat::SetStartupDirectory(dir); }

bool PublishReleaseChannel(const std::string& releaseDir, const std::string& channel,
                           const std::string& patchName, int rollout, int expiresDays,
                           const std::function<bool(const std::string&, std::string*)>& signer,
                           uint64_t* pointerSequence, std::string* error) {
  ChannelPointer published;
  if (!PublishChannel(releaseDir, channel, patchName, rollout, expiresDays, signer, &published,
                      error)) {
    return false;
  }
  *pointerSequence = published.sequence;
  return true;
}

bool PruneReleaseFolder(const std::string& releaseDir, int keep, int deltaWindow, bool dryRun,
                        std::vector<std::pair<std::string, std::string>>* entries,
                        std::vector<std::string>* failed, std::string* error) {
  PruneSettings settings;
  settings.keep = keep;
  settings.delta_window = deltaWindow;
  settings.dry_run = dryRun;
  std::vector<PruneEntry> decided;
  if (!PruneReleases(releaseDir, settings, &decided, failed, error)) return false;
  entries->clear();
  for (const PruneEntry& entry : decided) entries->emplace_back(entry.patch, entry.reason);
  return true;
}

void SetReleasePatchWindow(int releases) { g_patchWindow = releases < 0 ? 0 : releases; }

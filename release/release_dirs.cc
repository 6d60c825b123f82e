#include "release/release_dirs.h"

#include <cstdio>

#include "fileio/io_util.h"
#include "release/channel_publish.h"
#include "protocol/channel_pointer.h"
#include "protocol/patch_dir_name.h"
#include "version/build_paths.h"

const char* const kBuildRecordFolder = ".build-records";

std::string PatchDirName(const plat::LocalTime& time) {
  char name[36];
  std::snprintf(name, sizeof(name), "Patch_%04d%02d%02d_%02d%02d%02d", time.year, time.month,
                time.day, time.hour, time.minute, time.second);
  return name;
}

namespace {

const char kPartialPrefix[] = ".partial-";

}  // namespace

std::string PartialPatchDirName(const std::string& patchName) { return kPartialPrefix + patchName; }

std::string PatchNameOfPartial(const std::string& name) {
  const size_t prefix = sizeof(kPartialPrefix) - 1;
  if (name.compare(0, prefix, kPartialPrefix) != 0 || !IsPatchDirName(name.substr(prefix))) {
    return std::string();
  }
  return name.substr(prefix);
}

void RemovePartialPatchDirs(const std::string& releaseDir) {
  std::vector<plat::DirEntry> entries;
  if (releaseDir.empty() || !plat::ListDirectory(releaseDir, &entries)) return;
  for (const plat::DirEntry& entry : entries) {
    if (PatchNameOfPartial(entry.name).empty()) continue;
    std::string path;
    // Never followed: a link of that name goes as a link.
    if (FormatChildPath(releaseDir, entry.name.c_str(), &path)) IOUtil_RemoveDirTree(path.c_str());
  }
}

std::vector<std::string> ReleaseOutputDirs(const char* outputDir, const char* releaseDir) {
  std::vector<std::string> dirs;
  char startup[kPathBufferSize];
  if (!GetStartupDir(startup, sizeof(startup))) return dirs;

  std::string output = IOUtil_ResolvePath(outputDir, startup);
  std::string temporary_tree = TemporaryTreeIn(output);
  if (!temporary_tree.empty() && FitsPathBuffer(temporary_tree)) dirs.push_back(temporary_tree);

  std::string release = IOUtil_ResolvePath(releaseDir, startup);
  std::string latest;
  // The name of the newest patch directory, which filedist build keeps in
  // the release folder for clients to follow.
  if (!release.empty() && FormatChildPath(release, kLatestName, &latest)) dirs.push_back(latest);
  std::string records;
  if (!release.empty() && FormatChildPath(release, kBuildRecordFolder, &records) &&
      plat::PathExists(records.c_str())) {
    dirs.push_back(records);
  }
  std::vector<plat::DirEntry> entries;
  if (release.empty() || !plat::ListDirectory(release, &entries)) return dirs;
  for (const plat::DirEntry& entry : entries) {
    // The channel pointers beside LATEST, and their signatures, also as a
    // stopped publishing left them pending (channel_pointer.h).
    std::string pointer;
    if ((IsChannelPointerFileName(entry.name) || IsPendingChannelFileName(entry.name)) &&
        FormatChildPath(release, entry.name.c_str(), &pointer)) {
      dirs.push_back(pointer);
      continue;
    }
    std::string patch_dir;
    if ((entry.attributes & plat::kAttrDirectory) && IsPatchDirName(entry.name) &&
        FormatChildPath(release, entry.name.c_str(), &patch_dir)) {
      dirs.push_back(patch_dir);
    }
  }
  return dirs;
}

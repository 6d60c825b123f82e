#include "release/earlier_release.h"

#include <algorithm>
#include <vector>

#include "release/build_record.h"
#include "release/release_dirs.h"
#include "fileio/gzip_check.h"
#include "fileio/io_util.h"
#include "fileio/file_key.h"
#include "platform/platform.h"
#include "platform/bounded_file.h"
#include "protocol/patch_dir_name.h"
#include "protocol/release_manifest.h"
#include "util/text_lines.h"

namespace {

// A version list of a million files stays well below this.
constexpr size_t kListLimit = size_t{1} << 28;

// "path,key,size" lines, as the release wrote them.
void ParseList(const std::string& list, std::map<std::string, std::string>* keys) {
  util::ForEachLine(list, [keys](std::string line) {
    size_t first = line.find(',');
    size_t second = first == std::string::npos ? first : line.find(',', first + 1);
    if (second != std::string::npos) {
      (*keys)[line.substr(0, first)] = line.substr(first + 1, second - first - 1);
    }
  });
}

// A record bigger than a million files' lines is not one of ours.
constexpr size_t kRecordLimit = size_t{1} << 28;

// The build record beside the patch directory, where there is a sound one.
void LoadBuildRecord(const std::string& patchDir, EarlierRelease* release) {
  std::string text;
  if (!plat::ReadBoundedFile(BuildRecordPath(patchDir).c_str(), kRecordLimit, &text) ||
      !ParseBuildRecord(text, &release->members)) {
    release->members.clear();
  }
}

bool LoadRelease(const std::string& patchDir, EarlierRelease* release) {
  std::string list_path;
  std::string key_path;
  std::string list;
  std::string key_file;
  if (!FormatChildPath(patchDir, kVersionListName, &list_path) ||
      !FormatChildPath(patchDir, kListKeyName, &key_path) ||
      !GunzipFileToString(list_path.c_str(), kListLimit, &list) ||
      !GunzipFileToString(key_path.c_str(), 64, &key_file) ||
      key_file.compare(0, 32, FileKeyOfBytes(list.data(), list.size())) != 0) {
    return false;
  }
  release->patchDir = patchDir;
  ParseList(list, &release->keys);
  LoadBuildRecord(patchDir, release);
  return true;
}

}  // namespace

std::vector<EarlierRelease> FindEarlierReleases(const std::string& releaseDir, size_t count) {
  std::vector<EarlierRelease> releases;
  std::vector<plat::DirEntry> entries;
  if (count == 0 || releaseDir.empty() || !plat::ListDirectory(releaseDir, &entries)) {
    return releases;
  }
  std::vector<std::string> names;
  for (const plat::DirEntry& entry : entries) {
    if ((entry.attributes & plat::kAttrDirectory) && IsPatchDirName(entry.name)) {
      names.push_back(entry.name);
    }
  }
  // The names sort as the times they stand for.
  std::sort(names.rbegin(), names.rend());
  for (const std::string& name : names) {
    std::string patch_dir;
    EarlierRelease release;
    if (FormatChildPath(releaseDir, name.c_str(), &patch_dir) && LoadRelease(patch_dir, &release)) {
      releases.push_back(std::move(release));
      if (releases.size() == count) break;
    }
  }
  return releases;
}

#include "release/release_sequence.h"

#include <cstdio>
#include <vector>

#include "release/release_dirs.h"
#include "fileio/io_util.h"
#include "platform/platform.h"
#include "protocol/patch_dir_name.h"
#include "protocol/release_manifest.h"

namespace {

// The header and the sequence line fit in this.
constexpr size_t kHeadSize = 64;

bool ReadSequence(const std::string& patchDir, uint64_t* sequence) {
  std::string path;
  if (!FormatChildPath(patchDir, kManifestName, &path)) return false;
  FILE* file = plat::OpenFile(path.c_str(), "rb");
  if (file == nullptr) return false;
  char head[kHeadSize];
  size_t got = std::fread(head, 1, sizeof head, file);
  std::fclose(file);
  return ParseManifestSequence(std::string(head, got), sequence);
}

}  // namespace

uint64_t NextReleaseSequence(const std::string& releaseDir) {
  std::vector<plat::DirEntry> entries;
  uint64_t highest = 0;
  if (!releaseDir.empty() && plat::ListDirectory(releaseDir, &entries)) {
    for (const plat::DirEntry& entry : entries) {
      if (!(entry.attributes & plat::kAttrDirectory) || !IsPatchDirName(entry.name)) continue;
      std::string patch_dir;
      uint64_t sequence = 0;
      if (FormatChildPath(releaseDir, entry.name.c_str(), &patch_dir) &&
          ReadSequence(patch_dir, &sequence) && sequence > highest) {
        highest = sequence;
      }
    }
  }
  return highest >= kManifestSequenceLimit ? 0 : highest + 1;
}

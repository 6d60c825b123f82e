#include "release/signing_practice.h"

#include <vector>

#include "platform/bounded_file.h"
#include "platform/platform.h"
#include "protocol/channel_pointer.h"
#include "protocol/latest_pointer.h"
#include "protocol/release_manifest.h"

bool ReleaseFolderIsSigned(const std::string& releaseDir) {
  std::string text;
  std::string patchName;
  if (plat::ReadBoundedFile(plat::ChildPath(releaseDir, kLatestName).c_str(),
                            kReleasePointerSizeLimit, &text) &&
      ParseReleasePointer(text, &patchName) &&
      plat::PathExists(
          plat::ChildPath(plat::ChildPath(releaseDir, patchName), kManifestSignatureName)
              .c_str())) {
    return true;
  }
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(releaseDir, &entries)) return false;
  for (const plat::DirEntry& entry : entries) {
    const std::string& name = entry.name;
    if (IsChannelPointerFileName(name) && name.size() > 4 &&
        name.compare(name.size() - 4, 4, ".sig") == 0) {
      return true;
    }
  }
  return false;
}

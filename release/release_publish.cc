#include "release/release_publish.h"

#include "fileio/replacement_file.h"
#include "fileio/tree_sync.h"
#include "platform/platform.h"

bool FlushRelease(const std::string& patchDir, std::string* error) {
  std::string failed;
  if (!SyncFilesBelow(patchDir, &failed)) {
    *error = "cannot flush '" + failed + "' to the disk";
    return false;
  }
  return true;
}

bool PublishRelease(const std::string& patchDir, std::string* error) {
  return FlushRelease(patchDir, error) && WriteReleasePointer(patchDir, error);
}

bool WriteReleasePointer(const std::string& patchDir, std::string* error) {
  size_t separator = plat::FindLastSeparator(patchDir);
  std::string name = separator == std::string::npos ? patchDir : patchDir.substr(separator + 1);
  std::string latest = separator == std::string::npos
                           ? std::string(kLatestName)
                           : patchDir.substr(0, separator + 1) + kLatestName;
  return ReplaceFileDurably(latest, name + "\n", error);
}

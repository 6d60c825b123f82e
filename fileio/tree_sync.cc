#include "fileio/tree_sync.h"

#include <vector>

#include "platform/file_safety.h"
#include "platform/platform.h"

namespace {

bool CollectFiles(const std::string& dir, std::vector<std::string>* files, std::string* failed) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(dir, &entries)) {
    *failed = dir;
    return false;
  }
  for (const plat::DirEntry& entry : entries) {
    std::string child = dir + plat::kPathSeparator + entry.name;
    if (entry.attributes & plat::kAttrReparsePoint) continue;
    if (entry.attributes & plat::kAttrDirectory) {
      if (!CollectFiles(child, files, failed)) return false;
    } else {
      files->push_back(child);
    }
  }
  return true;
}

}  // namespace

bool SyncFilesBelow(const std::string& dir, std::string* failed) {
  std::vector<std::string> files;
  if (!CollectFiles(dir, &files, failed)) return false;
  std::vector<std::string> unsynced = plat::SyncFiles(dir, files);
  if (!unsynced.empty()) {
    *failed = unsynced.front();
    return false;
  }
  // The folder's own entry in its parent: where the system keeps names
  // apart from data, the patch folder itself must survive too.
  size_t cut = plat::FindLastSeparator(dir);
  if (cut != std::string::npos && cut > 0 && !plat::SyncDirectory(dir.substr(0, cut))) {
    *failed = dir.substr(0, cut);
    return false;
  }
  return true;
}

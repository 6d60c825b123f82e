#include "release/release_pointer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "fileio/tree_sync.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "signing/patch_dir_name.h"

const char* const kLatestName = "LATEST";

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
  std::random_device seed;
  std::string temporary = latest + "." + std::to_string(seed()) + ".tmp";
  // "x": a file of that name already there is someone else's.
  FILE* file = std::fopen(temporary.c_str(), "wbx");
  if (file == nullptr) {
    *error = "cannot write '" + temporary + "': " + std::strerror(errno);
    return false;
  }
  std::string line = name + "\n";
  bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  written = plat::SyncFile(file) && written;
  written = std::fclose(file) == 0 && written;
  if (!written || !plat::ReplaceFileAtomically(temporary.c_str(), latest.c_str())) {
    *error = "cannot write '" + latest + "': " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  plat::SyncDirectory(separator == std::string::npos ? std::string(".")
                                                     : patchDir.substr(0, separator));
  return true;
}

bool ParseReleasePointer(const std::string& text, std::string* patchName) {
  std::string name = text;
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) {
    name.pop_back();
  }
  if (!IsPatchDirName(name)) return false;
  *patchName = name;
  return true;
}

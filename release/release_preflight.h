// What BuildVer settles before the first stage touches anything: that no
// other build uses the same packer directory or release folder, that the
// source, the temporary tree and the release folder do not overlap, and that
// the release folder can be written. Whatever is refused here is refused
// before a file is keyed, compressed or removed.
#ifndef FILEDIST_RELEASE_RELEASE_PREFLIGHT_H
#define FILEDIST_RELEASE_RELEASE_PREFLIGHT_H

#include <string>
#include <vector>

#include "platform/file_lock.h"

// Names of the lock files in the packer (startup) directory and in the
// release folder.
extern const char* const kPackerLockName;
extern const char* const kReleaseLockName;

// Takes the release folder's lock for a promotion or a pruning, which must
// not run beside a build or each other there. False, with *error set, when
// another holds it or it cannot be made.
bool LockReleaseFolder(plat::FileLock* lock, const std::string& releaseDir, std::string* error);

// Holds the two locks for as long as it lives.
class ReleasePreflight {
 public:
  // True when the build may go on; false after one error line. Null or
  // unresolvable source and output arguments are left to the stages, which
  // report them as they always have.
  bool Check(const char* sourceDir, const char* outputDir, const char* releaseDir);

  // The lock files, which a scan of a tree holding them must not release.
  const std::vector<std::string>& lock_files() const { return lock_files_; }

  // The release folder, resolved; empty when the check stopped before it.
  const std::string& release_dir() const { return release_dir_; }

 private:
  plat::FileLock packer_lock_;
  plat::FileLock release_lock_;
  std::vector<std::string> lock_files_;
  std::string release_dir_;
};

#endif  // FILEDIST_RELEASE_RELEASE_PREFLIGHT_H

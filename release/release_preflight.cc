#include "release/release_preflight.h"

#include "fileio/io_util.h"
#include "log/logger.h"
#include "platform/path_within.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "version/build_paths.h"

const char* const kPackerLockName = "BuildVer.lock";
const char* const kReleaseLockName = "Release.lock";

bool LockReleaseFolder(plat::FileLock* lock, const std::string& releaseDir, std::string* error) {
  switch (lock->Acquire(plat::ChildPath(releaseDir, kReleaseLockName))) {
    case plat::LockResult::kAcquired:
      return true;
    case plat::LockResult::kBusy:
      *error = "another build or promotion is running in '" + releaseDir + "'";
      return false;
    case plat::LockResult::kFailed:
      break;
  }
  *error = "cannot lock the release folder '" + releaseDir + "'";
  return false;
}

namespace {

const char* const kBuildVer = "BuildVer";
const char* const kPatchStage = "CFileVersion::GenerateReleasePatch";

std::string Because(int error) {
  std::string text = plat::SystemErrorText(error);
  return text.empty() ? std::string() : ": " + text;
}

// Takes the lock in dir; what stands in the way is logged.
bool TakeLock(plat::FileLock* lock, const std::string& dir, const char* name, const char* what,
              std::vector<std::string>* lock_files) {
  std::string path;
  if (!FormatChildPath(dir, name, &path)) {
    LogError() << "Lock file in [" << dir << "] does not fit a path in [" << kBuildVer << "]";
    return false;
  }
  plat::LockResult result = lock->Acquire(path);
  int error = plat::LastSystemError();
  if (result == plat::LockResult::kBusy) {
    LogError() << "Another build is running with the " << what << " [" << dir << "] ([" << path
               << "] is locked) in [" << kBuildVer << "]";
    return false;
  }
  if (result == plat::LockResult::kFailed) {
    LogError() << "Lock file [" << path << "] for the " << what << " cannot be made"
               << Because(error) << " in [" << kBuildVer << "]";
    return false;
  }
  lock_files->push_back(path);
  return true;
}

// A directory of the build as the user named it (resolved against the
// startup directory) and as the file system knows it (links resolved).
struct Place {
  std::string named;
  std::string real;
};

Place Resolve(const std::string& named) {
  return Place{named, named.empty() ? named : plat::ResolveExistingPart(named)};
}

// An overlap of two of the build's directories, logged.
bool Overlaps(const Place& inner, const char* inner_what, const Place& outer,
              const char* outer_what) {
  if (inner.real.empty() || outer.real.empty() || !plat::PathIsWithin(inner.real, outer.real)) {
    return false;
  }
  LogError() << "The " << inner_what << " [" << inner.named << "] lies inside the " << outer_what
             << " [" << outer.named << "]; nothing was built in [" << kBuildVer << "]";
  return true;
}

}  // namespace

bool ReleasePreflight::Check(const char* sourceDir, const char* outputDir, const char* releaseDir) {
  char startup_buffer[kPathBufferSize];
  // Without a startup directory stage 1 fails with its own line.
  if (!GetStartupDir(startup_buffer, sizeof(startup_buffer))) return true;
  const std::string startup = startup_buffer;
  if (!TakeLock(&packer_lock_, startup, kPackerLockName, "packer directory", &lock_files_)) {
    return false;
  }

  Place source = Resolve(IOUtil_ResolvePath(sourceDir, startup));
  // A source that is missing fails stage 1 with its own line, before
  // anything is made.
  if (source.named.empty() || !plat::PathExists(source.named.c_str())) return true;
  std::string output = IOUtil_ResolvePath(outputDir, startup);
  Place temporary_tree = Resolve(TemporaryTreeIn(output));
  std::string release_arg = IOUtil_ResolvePath(releaseDir, startup);
  Place release = Resolve(release_arg);

  // Removing the temporary tree after the build would take the source or
  // the new release with it; a temporary tree inside the release folder
  // would be written where clients read.
  if (Overlaps(source, "source directory", temporary_tree, "temporary tree") ||
      Overlaps(release, "release directory", temporary_tree, "temporary tree") ||
      Overlaps(temporary_tree, "temporary tree", release, "release directory")) {
    return false;
  }

  // The release folder is made and locked now, so that a folder that cannot
  // be written stops the build before hours of keying and compressing.
  if (release_arg.empty()) {
    LogError() << "releaseDir [" << release_arg << "] is empty in [" << kPatchStage << "]";
    return false;
  }
  if (!IOUtil_MakeDirTree(release_arg.c_str())) {
    int error = plat::LastSystemError();
    LogError() << "IOUtil_MakeDirTree for [" << release_arg << "] failed" << Because(error)
               << " in [" << kPatchStage << "]";
    return false;
  }
  if (!TakeLock(&release_lock_, release_arg, kReleaseLockName, "release directory", &lock_files_)) {
    return false;
  }
  release_dir_ = release_arg;
  return true;
}

// Release stage 4: the dated patch directory, holding the compressed tree,
// the compressed version list and the compressed key file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "release/release_dirs.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "log/release_events.h"
#include "platform/file_links.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "version/file_version.h"

namespace {

const char* const kStage = "CFileVersion::GenerateReleasePatch";

// The patch directory takes each compressed file under a second name where
// the file system allows it: nothing is copied, and removing the temporary
// tree afterwards frees no file (a file system slows down making new files
// while thousands were freed just before). Elsewhere the file is copied.
// The directory is new, so a target is there only when two listed names meet
// on one file; the later one wins, protected or not.
bool PlaceInPatch(const std::string& source, const std::string& target) {
  uint32_t attributes = 0;
  if (plat::GetAttributes(target.c_str(), &attributes)) {
    if (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem)) {
      plat::SetAttributesNormal(target.c_str());
    }
    plat::RemoveFile(target.c_str());
  }
  return plat::LinkFile(source.c_str(), target.c_str()) ||
         IOUtil_CopyFile(source.c_str(), target.c_str());
}

void LogCombineFailure(const std::string& dir, const std::string& path) {
  LogError() << "Combine [" << dir << "] and [" << path << "] failed in [" << kStage << "]";
}

// Copies one listed file from the temporary tree into the patch directory.
bool CopyIntoPatch(const std::string& temporary_tree, const std::string& patch_dir,
                   const std::string& relative) {
  std::string target;
  if (!Combine(patch_dir.c_str(), relative.c_str(), &target)) {
    LogCombineFailure(patch_dir, relative);
    return false;
  }
  std::string parent;
  if (!SplitParentDir(target, &parent)) {
    LogError() << "rFind in string [" << target << "] failed in [" << kStage << "]";
    return false;
  }
  if (!IOUtil_MakeDirTree(parent.c_str())) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "IOUtil_MakeDirTree for [" << parent << "] failed in [" << kStage
               << "]";
    return false;
  }
  std::string source;
  if (!Combine(temporary_tree.c_str(), relative.c_str(), &source)) {
    LogCombineFailure(temporary_tree, relative);
    return false;
  }
  if (!PlaceInPatch(source, target)) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "IOUtil_CopyFile src[" << source << "] dst[" << target
               << "] failed in [" << kStage << "]";
    return false;
  }
  return true;
}

// The compressed version list or key file, from the temporary tree.
bool PlaceVersionFile(const std::string& source, const std::string& target) {
  return FitsPathBuffer(source) && FitsPathBuffer(target) && PlaceInPatch(source, target);
}

// A patch directory is never written into again once made: clients may be
// reading it. So a name that exists is never taken; the build waits for the
// next second and takes that one, and makes it exclusively, so that of two
// builds racing for a name only one gets it. Hosts parse the name, so its
// form stays.
constexpr int kNamesToTry = 120;
constexpr int kClockPollMilliseconds = 50;

// Makes the partial directory of a new patch directory (see
// PartialPatchDirName): *patch_dir gets the name it is to have, *partial the
// one it is written under.
bool MakeNewPatchDir(const std::string& release, char* patchDirOut, std::string* patch_dir,
                     std::string* partial) {
  if (!IOUtil_MakeDirTree(release.c_str())) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "IOUtil_MakeDirTree for [" << release << "] failed in [" << kStage
               << "]";
    return false;
  }
  std::string taken;
  for (int tried = 0; tried < kNamesToTry;) {
    std::string name = PatchDirName(plat::GetLocalTimeNow());
    if (name == taken) {
      plat::PauseMilliseconds(kClockPollMilliseconds);
      continue;
    }
    ++tried;
    if (!FormatChildPath(release, name.c_str(), patch_dir)) {
      // Neither a path buffer nor the caller's 1024 bytes would hold it.
      LogError() << "IOUtil_MakeDirTree for [" << release << plat::kPathSeparator << name
                 << "] failed in [" << kStage << "]";
      return false;
    }
    // Handed back before the directory is made, so that a caller whose
    // build failed here still sees where it was to go.
    if (patchDirOut != nullptr) {
      std::memcpy(patchDirOut, patch_dir->c_str(), patch_dir->size() + 1);
    }
    if (!FormatChildPath(release, PartialPatchDirName(name).c_str(), partial)) {
      LogError() << "IOUtil_MakeDirTree for [" << *patch_dir << "] failed in [" << kStage << "]";
      return false;
    }
    plat::MakeDirResult made = plat::NameIsTaken(*patch_dir)
                                   ? plat::MakeDirResult::kAlreadyExists
                                   : plat::MakeOneDirectory(partial->c_str());
    if (made == plat::MakeDirResult::kCreated) return true;
    if (made == plat::MakeDirResult::kFailed) {
      SystemReason reason = LastSystemReason();
      LogError() << reason << "IOUtil_MakeDirTree for [" << *partial << "] failed in [" << kStage
                 << "]";
      return false;
    }
    taken = name;
  }
  LogError() << "Every patch directory name up to [" << *patch_dir << "] is taken in [" << kStage
             << "]";
  return false;
}

}  // namespace

int CFileVersion::GenerateReleasePatch(const char* releaseDir, char* patchDirOut) {
  std::string release = IOUtil_ResolvePath(releaseDir, m_paths.startup_dir());
  if (release.empty()) {
    LogError() << "releaseDir [" << release << "] is empty in [" << kStage << "]";
    return 0;
  }
  std::string patch_dir;
  std::string partial;
  if (!MakeNewPatchDir(release, patchDirOut, &patch_dir, &partial)) return 0;
  // Every stage up to PlaceReleasePatch writes under the partial name.
  m_paths.SetPatchDir(partial);
  if (ReleaseObserver* observer = GetReleaseObserver()) {
    observer->PatchStarted(patch_dir);
  } else {
    std::printf("Generate Release Patch (%s)\n", patch_dir.c_str());
  }

  int copied = 0;
  for (const VersionRecord& record : m_scanList) {
    if (!CopyIntoPatch(m_paths.temporary_tree(), partial, record.path)) return 0;
    ++copied;
  }
  if (copied < 1) return 1;
  if (!PlaceVersionFile(m_paths.packed_list(), m_paths.patch_list()) ||
      !PlaceVersionFile(m_paths.packed_key(), m_paths.patch_key())) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "IOUtil_CopyFile copy ver and vercomp.dat failed in [" << kStage << "]";
    return 0;
  }
  return 1;
}

int CFileVersion::PlaceReleasePatch() {
  const std::string partial = m_paths.patch_dir();
  std::string release;
  std::string name;
  const size_t separator = plat::FindLastSeparator(partial);
  if (separator != std::string::npos) {
    release = partial.substr(0, separator);
    name = PatchNameOfPartial(partial.substr(separator + 1));
  }
  std::string patch_dir;
  if (name.empty() || !FormatChildPath(release, name.c_str(), &patch_dir)) {
    LogError() << "No partial patch directory to place in [" << kStage << "]";
    return 0;
  }
  if (!plat::RenameNoReplace(partial, patch_dir)) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Rename [" << partial << "] to [" << patch_dir << "] failed in ["
               << kStage << "]";
    return 0;
  }
  m_paths.SetPatchDir(patch_dir);
  return 1;
}

#include "update/staging_cleanup.h"

#include <vector>

#include "platform/file_lock.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "update/apply_journal.h"
#include "update/install_paths.h"
#include "update/staging.h"
#include "update/update_reporter.h"
#include "util/size_text.h"

namespace update {

uint64_t StagedBytes(const std::string& installDir) {
  std::string dir = JoinInstallPath(installDir, {kStagingName});
  std::vector<plat::DirEntry> entries;
  if (plat::IsLinkEntry(dir) || !plat::ListDirectory(dir, &entries)) return 0;
  uint64_t total = 0;
  for (const plat::DirEntry& entry : entries) {
    if ((entry.attributes & (plat::kAttrDirectory | plat::kAttrReparsePoint)) == 0) {
      total += entry.size;
    }
  }
  return total;
}

std::string StagingLeftNote(const std::string& installDir) {
  uint64_t bytes = StagedBytes(installDir);
  if (bytes == 0) return std::string();
  return "; the staging folder '" + JoinInstallPath(installDir, {kStagingName}) + "' keeps " +
         util::FormatSize(bytes) + " for the next run ('update --clean' removes it)";
}

int CleanStaging(const std::string& installDir, UpdateReporter* reporter) {
  plat::FileLock lock;
  switch (lock.Acquire(JoinInstallPath(installDir, {kLockName}))) {
    case plat::LockResult::kAcquired:
      break;
    case plat::LockResult::kBusy:
      reporter->Problem("another update of '" + installDir +
                        "' is running; try again when it has finished");
      return 1;
    case plat::LockResult::kFailed:
      reporter->Problem("cannot lock the install directory '" + installDir +
                        "': " + plat::SystemErrorText(plat::LastSystemError()));
      return 1;
  }
  std::vector<JournalEntry> pending;
  std::string journal = JoinInstallPath(installDir, {kJournalName});
  if (ReadJournal(journal, &pending) == JournalState::kComplete) {
    reporter->Problem(
        "an interrupted update needs the staged files; run the update again to "
        "finish it, then clean");
    return 1;
  }
  uint64_t bytes = StagedBytes(installDir);
  Staging staging(installDir);
  staging.RemoveAll();
  std::string dir = staging.dir();
  if (plat::PathExists(dir.c_str()) || plat::IsLinkEntry(dir)) {
    reporter->Problem("cannot remove the staging folder '" + dir + "': " + plat::LastErrorText());
    return 1;
  }
  reporter->Note(bytes > 0 ? "removed the staging folder (" + util::FormatSize(bytes) + ")"
                           : "no staged files to remove");
  return 0;
}

}  // namespace update

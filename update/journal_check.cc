#include "update/journal_check.h"

#include "fileio/aside_name.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/install_paths.h"

namespace update {

bool FoldersStayInside(const std::string& installDir, const std::vector<std::string>& parts,
                       std::string* reason) {
  std::string dir = installDir;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    dir = JoinInstallPath(dir, {parts[i]});
    if (!plat::IsLinkEntry(dir)) continue;
    // A link that leads nowhere is refused as well: it may lead outside
    // once something is made where it points.
    if (!LinkStaysInside(dir, installDir)) {
      *reason = "passes through the link '" + dir +
                "', which leads outside the install directory or back to the updater's own files";
      return false;
    }
  }
  return true;
}

bool CheckJournalEntry(const JournalEntry& entry, const std::string& installDir,
                       const std::string& programName, std::vector<std::string>* parts,
                       std::string* reason) {
  if (!SplitReleasePath(entry.record.path, parts, reason)) return false;
  bool is_program = parts->size() == 1 && !programName.empty() &&
                    plat::SameEntryName(parts->front(), programName);
  bool placed_program = is_program && entry.kind == JournalEntry::kPlace;
  if (!placed_program && IsUpdaterEntry(parts->front(), programName)) {
    *reason = "names a file of the updater's own";
    return false;
  }
  if (IsAsideName(parts->back())) {
    *reason = "has the name of an old copy moved aside while in use";
    return false;
  }
  return FoldersStayInside(installDir, *parts, reason);
}

}  // namespace update

// The apply: the journaled replacement of installed files by checked staged
// ones, and the removal of pruned ones. The journal (apply_journal.h) names
// every file about to change before the first one does; the client list
// first loses the records of those files and is written whole again once
// they are in place, so that it never vouches for a file in the middle of
// being changed. A file that a running program holds is moved aside
// (aside_copies.h). A run stopped anywhere in here is finished by the next
// one (Recover).
#ifndef FILEDIST_UPDATE_APPLY_H
#define FILEDIST_UPDATE_APPLY_H

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "protocol/release_manifest.h"
#include "update/apply_journal.h"
#include "update/aside_copies.h"
#include "update/staging.h"
#include "update/update_engine.h"
#include "update/update_plan.h"
#include "update/update_reporter.h"

namespace update {

class Applier {
 public:
  // listed: the release Manifest's files by path (empty without one), which
  // say whether a new file is a program; it must outlive the applier.
  Applier(const UpdateOptions& options, Staging* staging, AsideCopies* aside,
          const std::map<std::string, const ManifestFile*>& listed, UpdateReporter* reporter,
          UpdateOutcome* outcome);

  // Finishes an apply that a stopped run left behind; *recovered tells
  // whether there was one. False when it could not be finished.
  bool Recover(bool* recovered);

  // The journal entries that prune the plan's obsolete files: those still
  // as they were installed, or all with force.
  void ChoosePrunes(const UpdatePlan& plan, std::vector<JournalEntry>* entries);

  // Places and removes the journal's files and records the outcome in the
  // client list; *failures counts files that could not be placed or
  // removed. With recovering, what is done is an earlier run's, not this
  // run's outcome. False when the client list could not be written (the
  // journal then stays for the next run).
  bool Apply(const std::vector<JournalEntry>& entries, bool recovering, int* failures);

  // The running program's file name when it lies in the install folder: a
  // journal may place it (a release may ship the updater), never remove it.
  void set_program_name(const std::string& name) { program_name_ = name; }

  // Release paths whose files were removed.
  const std::vector<std::string>& removed() const { return removed_; }

 private:
  // What became of one journal entry to place, told by the thread that
  // placed it to the one that records the outcome.
  struct Placement {
    std::string target;
    bool refused = false;  // the entry is not one to act on
    bool placed = false;   // the file has the entry's key at target now
    bool found = false;    // it had it already: placed by a stopped run
    std::string problem;   // for the reporter, when not placed
  };
  // later: placements of the same key still to come after this one.
  void Place(const JournalEntry& entry, bool recovering, int later, Placement* placement);
  bool MakeFolders(const std::vector<std::string>& parts, std::string* error);
  // mode_set: source is a checked file whose mode this run's check of it
  // set already.
  bool PlaceFile(const std::string& source, const std::string& release_path,
                 const std::vector<std::string>& parts, const std::string& target, bool mode_set,
                 std::string* error);
  bool RemoveInstalled(const std::string& target, const std::vector<std::string>& parts);

  std::string install_dir_;
  bool force_;
  int jobs_;
  std::string list_path_;
  std::string journal_path_;
  Staging* staging_;
  AsideCopies* aside_;
  const std::map<std::string, const ManifestFile*>& listed_;
  UpdateReporter* reporter_;
  UpdateOutcome* outcome_;
  std::vector<std::string> removed_;
  std::string program_name_;
  int refused_ = 0;  // journal entries refused when they were to be acted on
  // Folders of the install folder found or made by this apply, so that each
  // is looked at once rather than once per file in it; forgotten when files
  // are removed, which may remove folders.
  std::mutex folders_lock_;
  std::set<std::string> folders_;
  std::mutex aside_lock_;  // the aside record is one file
};

}  // namespace update

#endif  // FILEDIST_UPDATE_APPLY_H

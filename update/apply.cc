#include "update/apply.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/client_list.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/journal_check.h"
#include "update/staging_names.h"
#include "util/parallel_for.h"
#include "util/scoped_file.h"

namespace update {

namespace {

// Copies a checked file to a new file, for a key that several paths share.
bool CopyToNew(const std::string& from, const std::string& to, std::string* error) {
  util::ScopedFile in(plat::OpenFile(from.c_str(), "rb"));
  if (!in) {
    *error = "cannot read '" + from + "'";
    return false;
  }
  if (EntryExists(to)) {
    FaultPoint();
    plat::RemoveFile(to.c_str());
  }
  FaultPoint();
  util::ScopedFile out(plat::CreateNewFile(to, error));
  if (!out) return false;
  char buffer[1 << 16];
  for (;;) {
    size_t got = std::fread(buffer, 1, sizeof buffer, in.get());
    if (got == 0) break;
    if (std::fwrite(buffer, 1, got, out.get()) != got) {
      *error = plat::LastErrorText();
      return false;
    }
  }
  if (std::ferror(in.get()) || std::fclose(out.release()) != 0) {
    *error = "cannot copy '" + from + "'";
    return false;
  }
  return true;
}

// Files placed by one thread of the apply, at the least: below that a
// thread costs more than it saves.
constexpr size_t kFilesPerPlacer = 64;
// Neighbouring files of the journal (most often of one folder) that one
// thread places in a row.
constexpr size_t kPlacedInARow = 16;

}  // namespace

Applier::Applier(const UpdateOptions& options, Staging* staging, AsideCopies* aside,
                 const std::map<std::string, const ManifestFile*>& listed, UpdateReporter* reporter,
                 UpdateOutcome* outcome)
    : install_dir_(options.install_dir),
      force_(options.force),
      jobs_(options.jobs),
      list_path_(JoinInstallPath(options.install_dir, {kClientListName})),
      journal_path_(JoinInstallPath(options.install_dir, {kJournalName})),
      staging_(staging),
      aside_(aside),
      listed_(listed),
      reporter_(reporter),
      outcome_(outcome) {}

// Finishes an apply that a stopped run left behind: files it named are
// placed from the staging folder where they are not yet in place, and each
// is recorded only if it has its key.
bool Applier::Recover(bool* recovered) {
  *recovered = false;
  std::vector<JournalEntry> entries;
  switch (ReadJournal(journal_path_, &entries)) {
    case JournalState::kAbsent:
      return true;
    case JournalState::kTorn:
      // Written through a rename, a journal is whole or absent; this one is
      // not ours, and no apply can have begun after it.
      reporter_->Problem("removing the damaged journal '" + journal_path_ + "'");
      FaultPoint();
      plat::RemoveFile(journal_path_.c_str());
      return true;
    case JournalState::kComplete:
      break;
  }
  for (const JournalEntry& entry : entries) {
    std::vector<std::string> parts;
    std::string reason;
    if (!CheckJournalEntry(entry, install_dir_, program_name_, &parts, &reason)) {
      reporter_->Problem("refusing the journal '" + journal_path_ + "': it lists '" +
                         entry.record.path + "', which " + reason +
                         "; nothing was changed (remove it if no update of yours was stopped)");
      return false;
    }
  }
  reporter_->Note("finishing an update that was interrupted (" + std::to_string(entries.size()) +
                  " files)");
  outcome_->interrupted = true;
  outcome_->interrupted_files = entries.size();
  int failures = 0;
  if (!Apply(entries, true, &failures)) return false;
  *recovered = true;
  return refused_ == 0;
}

void Applier::ChoosePrunes(const UpdatePlan& plan, std::vector<JournalEntry>* entries) {
  for (const PlannedFile& file : plan.obsolete) {
    JournalEntry entry;
    entry.kind = JournalEntry::kRemove;
    entry.record = file.record;
    if (EntryExists(file.target) && !force_) {
      std::string key;
      if (!KeyOfInstalledFile(file.target, &key) || key != file.record.key) {
        reporter_->Problem("keeping '" + file.record.path +
                           "': it was changed since it was installed (--force removes it)");
        outcome_->kept.push_back(file.record.path);
        continue;
      }
    }
    entries->push_back(entry);
  }
}

// The folders above a file to place, made where they are missing. A folder
// not known yet is looked at outside the lock: making one waits on the file
// system, and threads placing files in known folders must not wait for it.
// Two threads that look at one new folder at once both find it made.
bool Applier::MakeFolders(const std::vector<std::string>& parts, std::string* error) {
  std::string dir = install_dir_;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    dir = JoinInstallPath(dir, {parts[i]});
    {
      std::lock_guard<std::mutex> hold(folders_lock_);
      if (folders_.count(dir) != 0) continue;
    }
    if (plat::IsLinkEntry(dir) && !LinkStaysInside(dir, install_dir_)) {
      *error = "'" + dir + "' is a link that leads outside the install directory";
      return false;
    }
    if (!plat::PathExists(dir.c_str())) {
      FaultPoint();
      if (plat::MakeOneDirectory(dir.c_str()) == plat::MakeDirResult::kFailed) {
        *error = "cannot make the folder '" + dir + "': " + plat::LastErrorText();
        return false;
      }
    }
    std::lock_guard<std::mutex> hold(folders_lock_);
    folders_.insert(dir);
  }
  return true;
}

bool Applier::PlaceFile(const std::string& source, const std::string& release_path,
                        const std::vector<std::string>& parts, const std::string& target,
                        bool mode_set, std::string* error) {
  if (!MakeFolders(parts, error)) return false;
  // A first install finds no name taken: one look tells it.
  bool taken = plat::NameIsTaken(target);
  bool exists = taken && plat::PathExists(target.c_str());
  if (!listed_.empty() && !exists && !mode_set) {
    // A new file is executable exactly when the manifest says so; a
    // replaced one keeps the permissions it had.
    auto found = listed_.find(release_path);
    plat::SetExecutableBits(source.c_str(), found != listed_.end() && found->second->executable);
  }
  if (taken && plat::IsLinkEntry(target)) {
    // A link is replaced by the file, never written through.
    FaultPoint();
    plat::RemoveFile(target.c_str());
  } else if (exists) {
    // The new file keeps the old one's permissions: a program stays a
    // program.
    plat::CopyPermissions(target, source);
    uint32_t attributes = 0;
    if (plat::GetAttributes(target.c_str(), &attributes) &&
        (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem)) != 0) {
      plat::SetAttributesNormal(target.c_str());
    }
  }
  FaultPoint();
  // A program that runs from the file holds it until it ends: it goes
  // aside below at once rather than after a wait for it to let go.
  if (plat::ReplaceFileAtomically(source.c_str(), target.c_str(), plat::WhenHeld::kFailAtOnce)) {
    return true;
  }
  std::string reason = plat::LastErrorText();
  if (!plat::IsFileInUse(target)) {
    *error = "cannot replace '" + target + "': " + reason;
    return false;
  }
  // A running program or a loaded library (this updater among them) cannot
  // be overwritten on Windows but can be renamed: it runs on under its new
  // name, and a later run removes it.
  std::string aside;
  std::unique_lock<std::mutex> hold_aside(aside_lock_);
  AsideCopies::MoveResult moved = aside_->MoveAside(target, parts, &aside, error);
  hold_aside.unlock();
  switch (moved) {
    case AsideCopies::MoveResult::kMoved:
      break;
    case AsideCopies::MoveResult::kHeld:
      *error = "'" + target +
               "' is in use by another program and cannot be replaced now; close "
               "that program and run the update again to finish it";
      return false;
    case AsideCopies::MoveResult::kFailed:
      *error = "cannot replace '" + target + "', which is in use, nor move it aside: " + *error;
      return false;
  }
  FaultPoint();
  if (plat::ReplaceFileAtomically(source.c_str(), target.c_str())) return true;
  *error = "cannot replace '" + target + "': " + plat::LastErrorText();
  FaultPoint();
  plat::RenameNoReplace(aside, target);
  return false;
}

// Removes an installed file; one that a running program holds goes aside
// like a replaced one. False when it stays.
bool Applier::RemoveInstalled(const std::string& target, const std::vector<std::string>& parts) {
  FaultPoint();
  if (plat::RemoveFile(target.c_str())) return true;
  if (plat::IsFileInUse(target)) {
    std::string aside;
    std::string error;
    return aside_->MoveAside(target, parts, &aside, &error) == AsideCopies::MoveResult::kMoved;
  }
  return plat::SetAttributesNormal(target.c_str()) && plat::RemoveFile(target.c_str());
}

// Places one journal entry's file; any thread may, for entries of distinct
// keys at once.
void Applier::Place(const JournalEntry& entry, bool recovering, int later, Placement* placement) {
  const VersionRecord& record = entry.record;
  std::vector<std::string> parts;
  std::string reason;
  // Checked again now: a link may have been put in the way since.
  if (!CheckJournalEntry(entry, install_dir_, program_name_, &parts, &reason)) {
    placement->refused = true;
    placement->problem = "refusing '" + record.path + "', which " + reason;
    return;
  }
  placement->target = JoinInstallPath(install_dir_, parts);
  const std::string& target = placement->target;
  std::string key;
  if (recovering && KeyOfInstalledFile(target, &key) && key == record.key) {
    // Placed by a run that was stopped, maybe before it flushed it.
    placement->placed = true;
    placement->found = true;
    return;
  }
  std::string source = staging_->CheckedPath(record.key);
  // This run checked its staged files a moment ago; a finishing run
  // checks again what an earlier one left.
  bool staged = recovering ? staging_->HasChecked(record.key) : plat::PathExists(source.c_str());
  if (!staged) {
    if (!recovering) placement->problem = "the checked copy of '" + record.path + "' is gone";
    return;
  }
  std::string error;
  if (later > 0) {
    // Another path needs the same bytes: it gets the checked file itself.
    source = staging_->PathOf(staging_names::kCopy);
    if (!CopyToNew(staging_->CheckedPath(record.key), source, &error)) {
      placement->problem = "cannot copy '" + record.path + "': " + error;
      return;
    }
  }
  // The check of this run's staged files gave each its mode; a copy, or a
  // file an earlier run left, gets it here.
  if (PlaceFile(source, record.path, parts, target, !recovering && later == 0, &error)) {
    placement->placed = true;
  } else {
    placement->problem = error;
  }
}

// Places and removes the journal's files and records the outcome. The
// client list first loses every record the journal names, so that it never
// vouches for a file in the middle of being changed; it is written whole
// again once the files are in place.
bool Applier::Apply(const std::vector<JournalEntry>& entries, bool recovering, int* failures) {
  std::string error;
  VersionRecordList client;
  if (!ReadInstalledList(list_path_, &client, &error)) {
    reporter_->Problem(error);
    return false;
  }
  std::set<std::string> named;
  std::map<std::string, int> uses;  // placements by key
  for (const JournalEntry& entry : entries) {
    named.insert(entry.record.path);
    if (entry.kind == JournalEntry::kPlace) ++uses[entry.record.key];
  }
  VersionRecordList retracted;
  for (const VersionRecord& record : client) {
    if (named.count(record.path) == 0) retracted.push_back(record);
  }
  if (retracted.size() != client.size() &&
      !WriteInstalledList(list_path_, staging_->PathOf(staging_names::kNewList), retracted,
                          &error)) {
    reporter_->Problem(error);
    return false;
  }

  // What this run does is its outcome; what it finishes for an earlier run
  // was that run's.
  auto failed = [&](const std::string& path) {
    ++*failures;
    if (!recovering) outcome_->failed.push_back(path);
  };
  // For each placement, those of the same key still to come after it: the
  // last one takes the checked file itself, the others a copy.
  std::vector<int> later(entries.size(), 0);
  std::map<std::string, int> left = uses;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].kind == JournalEntry::kPlace) later[i] = --left[entries[i].record.key];
  }
  std::map<std::string, VersionRecord> placed;
  std::map<std::string, std::string> placed_at;  // release path by target
  std::vector<Placement> placements(entries.size());
  size_t begin = 0;
  while (begin < entries.size()) {
    const JournalEntry& entry = entries[begin];
    if (entry.kind == JournalEntry::kRemove) {
      ++begin;
      const VersionRecord& record = entry.record;
      std::vector<std::string> parts;
      std::string reason;
      // Checked again now: a link may have been put in the way since.
      if (!CheckJournalEntry(entry, install_dir_, program_name_, &parts, &reason)) {
        reporter_->Problem("refusing '" + record.path + "', which " + reason);
        ++refused_;
        failed(record.path);
        continue;
      }
      std::string target = JoinInstallPath(install_dir_, parts);
      std::string key;
      bool matches = KeyOfInstalledFile(target, &key) && key == record.key;
      if (EntryExists(target) && (matches || (!recovering && force_))) {
        if (RemoveInstalled(target, parts)) {
          removed_.push_back(record.path);
          if (!recovering) outcome_->removed.push_back(record.path);
          RemoveEmptyFolders(install_dir_, parts);
          // Folders found before may be gone now.
          folders_.clear();
        } else {
          reporter_->Problem("cannot remove '" + target + "': " + plat::LastErrorText());
          failed(record.path);
        }
      }
      continue;
    }
    // A run of placements: files whose key no other path shares are placed
    // by several threads at once (a rename or a look at a name waits on the
    // file system, not the processor); the others one after another here,
    // as their copies come from one checked file. Where a journal mixes
    // removals in, they keep their place between the runs.
    size_t end = begin;
    std::vector<size_t> spread;
    std::vector<size_t> here;
    for (; end < entries.size() && entries[end].kind == JournalEntry::kPlace; ++end) {
      (uses[entries[end].record.key] == 1 ? spread : here).push_back(end);
    }
    size_t threads = jobs_ < 1 ? 1 : static_cast<size_t>(jobs_);
    threads = std::min(threads, spread.size() / kFilesPerPlacer + 1);
    util::ParallelFor(spread.size(), threads, kPlacedInARow, [&](size_t n) {
      Place(entries[spread[n]], recovering, later[spread[n]], &placements[spread[n]]);
    });
    for (size_t index : here) Place(entries[index], recovering, later[index], &placements[index]);
    // The outcome is told in the journal's order, from this thread alone.
    for (size_t index = begin; index < end; ++index) {
      const Placement& placement = placements[index];
      const VersionRecord& record = entries[index].record;
      if (placement.refused) ++refused_;
      if (placement.placed) {
        placed[record.path] = record;
        placed_at[placement.target] = record.path;
        if (!recovering && !placement.found) outcome_->placed.push_back(record.path);
        continue;
      }
      if (!placement.problem.empty()) reporter_->Problem(placement.problem);
      failed(record.path);
    }
    begin = end;
  }

  // The placed files' data reaches the disk before the list that vouches
  // for them does; one that cannot be flushed is not recorded, so the next
  // run places it again.
  std::vector<std::string> targets;
  for (const auto& item : placed_at) targets.push_back(item.first);
  for (const std::string& target : plat::SyncFiles(install_dir_, targets)) {
    reporter_->Problem("cannot flush '" + target + "' to the disk; it is placed again next time");
    placed.erase(placed_at[target]);
    failed(placed_at[target]);
  }
  VersionRecordList final_list;
  std::set<std::string> recorded;
  for (VersionRecord record : client) {
    auto found = placed.find(record.path);
    if (found != placed.end()) {
      record.key = found->second.key;
      record.size = found->second.size;
      recorded.insert(record.path);
    } else if (named.count(record.path) != 0) {
      continue;  // removed, or not placed: fetched again next time
    }
    final_list.push_back(record);
  }
  for (const JournalEntry& entry : entries) {
    if (entry.kind == JournalEntry::kPlace && placed.count(entry.record.path) != 0 &&
        recorded.insert(entry.record.path).second) {
      VersionRecord record = entry.record;
      record.flag = ENTRY_LISTED;
      final_list.push_back(record);
    }
  }
  if (!WriteInstalledList(list_path_, staging_->PathOf(staging_names::kNewList), final_list,
                          &error)) {
    reporter_->Problem(error);
    return false;
  }
  FaultPoint();
  plat::RemoveFile(journal_path_.c_str());
  plat::SyncDirectory(install_dir_);
  return true;
}

}  // namespace update

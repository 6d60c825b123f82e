#include "update/update_engine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "update/apply.h"
#include "update/apply_journal.h"
#include "update/aside_copies.h"
#include "update/client_list.h"
#include "update/fetch_pool.h"
#include "update/install_paths.h"
#include "update/release_check.h"
#include "update/release_state.h"
#include "update/staging.h"
#include "update/staging_names.h"
#include "update/update_plan.h"
#include "version/version_list.h"

namespace update {

namespace {

// One run of the engine. Run() is the list of its steps; each step's work
// lies in a file of its own: release_check (is the release one to take),
// update_plan (what changes), fetch_pool and staging (the files fetched and
// checked), apply (the journaled replacement).
class UpdateRun {
 public:
  UpdateRun(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
            UpdateOutcome* outcome)
      : options_(options),
        fetcher_(fetcher),
        reporter_(reporter),
        outcome_(outcome),
        list_path_(JoinInstallPath(options.install_dir, {kClientListName})),
        journal_path_(JoinInstallPath(options.install_dir, {kJournalName})),
        staging_(options.install_dir),
        aside_(options.install_dir, staging_.PathOf(staging_names::kNewAsideList)),
        release_(options, &staging_, fetcher, reporter, outcome),
        applier_(options, &staging_, &aside_, release_.listed(), reporter, outcome) {
    FindProgram();
  }

  int Run();

 private:
  int Fail(const std::string& text) {
    reporter_->Problem(text);
    return 1;
  }
  void FindProgram();
  int TakeLock(plat::FileLock* lock);
  int CheckListWritable();
  int Prepare();
  int Plan(UpdatePlan* plan);
  int Stage(const UpdatePlan& plan);
  int Install(const UpdatePlan& plan);

  const UpdateOptions& options_;
  ReleaseFetcher* fetcher_;
  UpdateReporter* reporter_;
  UpdateOutcome* outcome_;
  std::string list_path_;
  std::string journal_path_;
  Staging staging_;
  AsideCopies aside_;
  ReleaseCheck release_;
  Applier applier_;
  std::string program_name_;
};

void UpdateRun::FindProgram() {
  std::string program = options_.program_path;
  if (program.empty() && !plat::GetExecutablePath(&program)) return;
  size_t cut = plat::FindLastSeparator(program);
  if (program.empty() || cut == std::string::npos) return;
  std::string dir = program.substr(0, cut);
  if (plat::ResolvesInside(dir, options_.install_dir) &&
      plat::ResolvesInside(options_.install_dir, dir)) {
    program_name_ = program.substr(cut + 1);
  }
}

int UpdateRun::TakeLock(plat::FileLock* lock) {
  std::string lock_path = JoinInstallPath(options_.install_dir, {kLockName});
  plat::LockResult result = lock->Acquire(lock_path);
  int error = plat::LastSystemError();
  switch (result) {
    case plat::LockResult::kAcquired:
      return 0;
    case plat::LockResult::kBusy:
      return Fail("another update of '" + options_.install_dir +
                  "' is running; try again when it has finished");
    case plat::LockResult::kFailed:
      break;
  }
  return Fail("cannot write in the install directory '" + options_.install_dir +
              "': " + plat::SystemErrorText(error));
}

int UpdateRun::CheckListWritable() {
  if (!EntryExists(list_path_)) return 0;
  errno = 0;
  FILE* file = plat::OpenFile(list_path_.c_str(), "ab");
  if (file != nullptr) {
    std::fclose(file);
    return 0;
  }
  return Fail("the version list '" + list_path_ + "' cannot be written: " +
              std::strerror(errno != 0 ? errno : EACCES) + "; nothing was changed");
}

// The staging folder is ready and no apply is left unfinished (in a dry
// run: none is finished, only told of).
int UpdateRun::Prepare() {
  if (int status = CheckListWritable()) return status;
  std::string error;
  if (!staging_.Prepare(&error)) {
    return Fail("cannot write in the install directory '" + options_.install_dir + "': " + error +
                "; nothing was changed");
  }
  if (options_.dry_run) {
    std::vector<JournalEntry> pending;
    if (ReadJournal(journal_path_, &pending) == JournalState::kComplete) {
      reporter_->Note("an interrupted update will be finished first");
      outcome_->interrupted = true;
      outcome_->interrupted_files = pending.size();
    }
    return 0;
  }
  // Old copies that earlier runs moved aside go as soon as nothing holds
  // them; a failure here only leaves them for a later run.
  if (!aside_.RemoveUnused(&error)) reporter_->Problem(error);
  bool recovered = false;
  if (!applier_.Recover(&recovered)) return Fail("cannot finish the interrupted update; run again");
  return 0;
}

// The checked release against the client list: what to fetch, what is no
// longer listed.
int UpdateRun::Plan(UpdatePlan* plan) {
  VersionRecordList release;
  if (int status = release_.VerifyRelease()) return status;
  if (int status = release_.FetchRelease(&release)) return status;
  if (int status = release_.CheckListAgainstManifest(release)) return status;
  VersionRecordList client;
  std::string error;
  if (!ReadInstalledList(list_path_, &client, &error)) return Fail(error);

  PlanSettings settings;
  settings.install_dir = options_.install_dir;
  settings.program_name = program_name_;
  settings.repair = options_.repair;
  std::vector<std::string> refusals;
  if (!MakeUpdatePlan(release, client, settings, plan, &refusals)) {
    for (size_t i = 0; i < refusals.size() && i < 10; ++i) {
      reporter_->Problem("the release lists " + refusals[i]);
    }
    return Fail("refusing the release: " + std::to_string(refusals.size()) +
                " of its paths are not safe to write; nothing was installed");
  }
  for (const std::string& warning : plan->warnings) reporter_->Problem(warning);
  outcome_->planned = true;
  outcome_->plan = *plan;
  return 0;
}

// Every file to fetch checked in the staging folder; with a signed
// release, against the Manifest as well as against its key.
int UpdateRun::Stage(const UpdatePlan& plan) {
  const auto& listed = release_.listed();
  StagedCheck check = [&](const std::vector<const PlannedFile*>& files, std::string* error) {
    const PlannedFile& first = *files.front();
    if (release_.verified()) {
      for (const PlannedFile* file : files) {
        if (!release_.MatchesManifest(file->record, error)) {
          // Not kept for a later run either.
          staging_.Discard(first.record.key);
          return false;
        }
      }
    }
    if (!listed.empty()) {
      // The staged file carries its mode already, so that a run that
      // finishes this apply after a stop places it as this one would.
      auto found = listed.find(first.record.path);
      plat::SetExecutableBits(staging_.CheckedPath(first.record.key).c_str(),
                              found != listed.end() && found->second->executable);
    }
    return true;
  };
  int failures = FetchIntoStaging(plan, options_.jobs, &staging_, fetcher_, reporter_, check,
                                  &outcome_->failed);
  outcome_->received = fetcher_->BytesReceived();
  if (failures > 0) {
    return Fail(std::to_string(failures) +
                " files failed; nothing was replaced; run again to retry");
  }
  return 0;
}

// The staged files placed under a journal, pruned files removed, the
// release's number recorded.
int UpdateRun::Install(const UpdatePlan& plan) {
  std::vector<JournalEntry> entries;
  for (const PlannedFile& file : plan.fetch) {
    JournalEntry entry;
    entry.record = file.record;
    entries.push_back(entry);
  }
  if (options_.prune) applier_.ChoosePrunes(plan, &entries);

  std::string error;
  int failures = 0;
  if (entries.empty()) {
    reporter_->Note("already up to date with " + fetcher_->Location());
  } else {
    // From here on every installed file the journal names may change; the
    // journal is on the disk first, so that a stop at any point is finished
    // by the next run.
    if (!WriteJournal(journal_path_, staging_.PathOf(staging_names::kNewJournal), entries,
                      &error)) {
      return Fail("cannot write the journal '" + journal_path_ + "': " + error +
                  "; nothing was replaced");
    }
    if (!applier_.Apply(entries, false, &failures)) {
      return Fail("the update stopped part-way; run again to finish it");
    }
    if (!plan.fetch.empty()) {
      reporter_->ShowFetched(plan.fetch.size(), plan.fetch_bytes, fetcher_->BytesReceived(),
                             fetcher_->Location());
    }
    for (const std::string& path : applier_.removed()) reporter_->Note("removed " + path);
  }
  if (!options_.prune) {
    for (const PlannedFile& file : plan.obsolete) outcome_->kept.push_back(file.record.path);
  }
  if (!options_.prune && !plan.obsolete.empty()) {
    reporter_->Note("kept " + std::to_string(plan.obsolete.size()) +
                    " files that the release no longer lists (--prune removes them)");
  }
  // Files that could not be placed stay checked in the staging folder: the
  // next run places them without fetching them again.
  if (failures > 0) return Fail(std::to_string(failures) + " files failed; run again to retry");
  if (release_.verified() &&
      !WriteReleaseState(options_.install_dir, staging_.PathOf(staging_names::kNewState),
                         release_.sequence(), &error)) {
    staging_.RemoveAll();
    return Fail("cannot record the installed release's number: " + error);
  }
  staging_.RemoveAll();
  return 0;
}

int UpdateRun::Run() {
  plat::FileLock lock;
  if (int status = TakeLock(&lock)) return status;
  if (int status = Prepare()) return status;
  UpdatePlan plan;
  if (int status = Plan(&plan)) return status;
  if (options_.dry_run) {
    reporter_->ShowPlan(plan, options_.prune);
    plat::RemoveEmptyDirectory(staging_.dir().c_str());
    return 0;
  }
  if (int status = Stage(plan)) return status;
  return Install(plan);
}

}  // namespace

int RunUpdate(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome) {
  UpdateOutcome unused;
  UpdateRun run(options, fetcher, reporter, outcome != nullptr ? outcome : &unused);
  return run.Run();
}

}  // namespace update

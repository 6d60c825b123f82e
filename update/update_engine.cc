#include "update/update_engine.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
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
#include "update/delta_fetch.h"
#include "update/fetch_pool.h"
#include "update/install_paths.h"
#include "update/release_check.h"
#include "update/release_state.h"
#include "update/staging.h"
#include "update/staging_cleanup.h"
#include "update/staging_names.h"
#include "update/update_plan.h"
#include "version/version_list.h"

namespace update {

// One run of the engine, step by step; UpdateSteps hands its steps out and
// RunUpdate runs them in order. Each step's work lies in a file of its own:
// release_check (is the release one to take), update_plan (what changes),
// fetch_pool and staging (the files fetched and checked), apply (the
// journaled replacement).
struct InstallLock::Held {
  plat::FileLock lock;
};

InstallLock::InstallLock() : held_(new Held) {}
InstallLock::~InstallLock() = default;

int InstallLock::Take(const std::string& install_dir, UpdateReporter* reporter,
                      UpdateOutcome* outcome) {
  auto fail = [&](UpdateFailure kind, const std::string& text) {
    reporter->Problem(text);
    outcome->failure = kind;
    return 1;
  };
  std::string lock_path = JoinInstallPath(install_dir, {kLockName});
  plat::LockResult result = held_->lock.Acquire(lock_path);
  int error = plat::LastSystemError();
  switch (result) {
    case plat::LockResult::kAcquired:
      return 0;
    case plat::LockResult::kBusy:
      return fail(UpdateFailure::kLocked, "another update of '" + install_dir +
                                              "' is running; try again when it has finished");
    case plat::LockResult::kFailed:
      break;
  }
  return fail(UpdateFailure::kDisk, "cannot write in the install directory '" + install_dir +
                                        "': " + plat::SystemErrorText(error));
}

class UpdateSteps::Run {
 public:
  Run(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
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
        applier_(options, &staging_, &aside_, release_.listed(), reporter, outcome),
        delta_(&staging_, fetcher, reporter) {
    FindProgram();
    applier_.set_program_name(program_name_);
  }

  int Prepare();
  int Plan();
  void ShowPlan();
  void ChoosePatches();
  PlanSizes Sizes() const;
  PlanSizes FetchedSizes() const;
  int Stage(const FetchWatch& watch);
  int Install();

 private:
  int Fail(UpdateFailure kind, const std::string& text) {
    reporter_->Problem(text);
    outcome_->failure = kind;
    return 1;
  }
  void FindProgram();
  int CheckListWritable();

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
  UpdatePlan plan_;
  DeltaFetch delta_;
};

void UpdateSteps::Run::FindProgram() {
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

int UpdateSteps::Run::CheckListWritable() {
  if (!EntryExists(list_path_)) return 0;
  // The list is replaced by a rename, never written through its name: a
  // link planted there (one leading nowhere, to /etc/nologin) is left to be
  // replaced, and the file is opened without being made, so that no file
  // appears where a link leads, and not at all when it is a named pipe,
  // which an open for writing would wait on. Reading it then refuses both.
  if (plat::IsLinkEntry(list_path_) || plat::IsSpecialFile(list_path_.c_str())) return 0;
  errno = 0;
  FILE* file = plat::OpenFile(list_path_.c_str(), "r+b");
  if (file != nullptr) {
    std::fclose(file);
    return 0;
  }
  return Fail(UpdateFailure::kDisk, "the version list '" + list_path_ + "' cannot be written: " +
                                        std::strerror(errno != 0 ? errno : EACCES) +
                                        "; nothing was changed");
}

// The staging folder is ready and no apply is left unfinished (in a dry
// run: none is finished, only told of).
int UpdateSteps::Run::Prepare() {
  if (int status = CheckListWritable()) return status;
  std::string error;
  if (!staging_.Prepare(&error)) {
    return Fail(UpdateFailure::kDisk, "cannot write in the install directory '" +
                                          options_.install_dir + "': " + error +
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
  if (!applier_.Recover(&recovered))
    return Fail(UpdateFailure::kDisk, "cannot finish the interrupted update; run again");
  return 0;
}

// The checked release against the client list: what to fetch, what is no
// longer listed.
int UpdateSteps::Run::Plan() {
  UpdatePlan* plan = &plan_;
  VersionRecordList release;
  if (int status = release_.VerifyRelease()) return status;
  if (int status = release_.FetchRelease(&release)) return status;
  if (int status = release_.CheckListAgainstManifest(release)) return status;
  VersionRecordList client;
  std::string error;
  if (!ReadInstalledList(list_path_, &client, &error)) return Fail(UpdateFailure::kDisk, error);

  PlanSettings settings;
  settings.install_dir = options_.install_dir;
  settings.program_name = program_name_;
  settings.repair = options_.repair;
  std::vector<std::string> refusals;
  if (!MakeUpdatePlan(release, client, settings, plan, &refusals)) {
    for (size_t i = 0; i < refusals.size() && i < 10; ++i) {
      reporter_->Problem("the release lists " + refusals[i]);
    }
    return Fail(UpdateFailure::kRefused,
                "refusing the release: " + std::to_string(refusals.size()) +
                    " of its paths are not safe to write; nothing was installed");
  }
  for (const std::string& warning : plan->warnings) reporter_->Problem(warning);
  outcome_->planned = true;
  outcome_->plan = *plan;
  ChoosePatches();
  outcome_->expected_bytes =
      plan->fetch_bytes - outcome_->patched_whole_bytes + outcome_->patch_bytes;
  if (options_.dry_run) ShowPlan();
  return 0;
}

// Every file to fetch checked in the staging folder; with a signed
// release, against the Manifest as well as against its key.
int UpdateSteps::Run::Stage(const FetchWatch& watch) {
  const UpdatePlan& plan = plan_;
  const auto& listed = release_.listed();
  // Each file's SHA-256 is made while it arrives, with its key.
  staging_.MakeSha256(release_.verified());
  // One listing tells which keys an earlier run left entries of; the others
  // are made without a look at their names first.
  staging_.Survey();
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
  bool cancelled = false;
  PatchedFiles patches;
  patches.delta = &delta_;
  patches.patched = &outcome_->patched;
  patches.patch_failed = &outcome_->patch_failed;
  int failures = FetchIntoStaging(plan, options_.jobs, &staging_, fetcher_, reporter_, check,
                                  &outcome_->failed, watch, &cancelled, patches);
  outcome_->received = fetcher_->BytesReceived();
  if (cancelled) {
    return Fail(UpdateFailure::kCancelled,
                "the download was cancelled; nothing was replaced, and what was fetched is kept "
                "for the next run");
  }
  if (failures > 0) {
    return Fail(UpdateFailure::kNetwork,
                std::to_string(failures) +
                    " files failed; nothing was replaced; run again to retry" +
                    StagingLeftNote(options_.install_dir));
  }
  return 0;
}

// The staged files placed under a journal, pruned files removed, the
// release's number recorded.
int UpdateSteps::Run::Install() {
  const UpdatePlan& plan = plan_;
  std::vector<JournalEntry> entries;
  for (const PlannedFile& file : plan.fetch) {
    JournalEntry entry;
    entry.record = file.record;
    entries.push_back(entry);
  }
  if (options_.prune) applier_.ChoosePrunes(plan, &entries);

  std::string error;
  int failures = 0;
  outcome_->up_to_date = entries.empty();
  if (entries.empty()) {
    reporter_->Note("already up to date with " + fetcher_->Location());
  } else {
    // The release's number is recorded before any installed file changes:
    // the floor that keeps older releases out never lags what is installed,
    // whether this apply is stopped or a file cannot be replaced.
    if (release_.verified() &&
        !WriteReleaseState(options_.install_dir, staging_.PathOf(staging_names::kNewState),
                           release_.sequence(), &error)) {
      return Fail(UpdateFailure::kDisk, "cannot record the installed release's number: " + error +
                                            "; nothing was replaced");
    }
    // From here on every installed file the journal names may change; the
    // journal is on the disk first, so that a stop at any point is finished
    // by the next run.
    if (!WriteJournal(journal_path_, staging_.PathOf(staging_names::kNewJournal), entries,
                      &error)) {
      return Fail(UpdateFailure::kDisk, "cannot write the journal '" + journal_path_ +
                                            "': " + error + "; nothing was replaced");
    }
    if (!applier_.Apply(entries, false, &failures)) {
      return Fail(UpdateFailure::kDisk, "the update stopped part-way; run again to finish it");
    }
    if (!plan.fetch.empty()) {
      reporter_->ShowFetched(plan.fetch.size(), plan.fetch_bytes, fetcher_->BytesReceived(),
                             fetcher_->Location(), FetchedSizes());
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
  if (failures > 0) {
    return Fail(UpdateFailure::kDisk, std::to_string(failures) +
                                          " files failed; run again to retry" +
                                          StagingLeftNote(options_.install_dir));
  }
  if (release_.verified() &&
      !WriteReleaseState(options_.install_dir, staging_.PathOf(staging_names::kNewState),
                         release_.sequence(), &error)) {
    staging_.RemoveAll();
    return Fail(UpdateFailure::kDisk, "cannot record the installed release's number: " + error);
  }
  staging_.RemoveAll();
  return 0;
}

void UpdateSteps::Run::ShowPlan() {
  reporter_->ShowPlan(plan_, options_.prune, Sizes());
  plat::RemoveEmptyDirectory(staging_.dir().c_str());
}

// Patches where the release offers one from what is installed; the plan
// itself stays as it is.
void UpdateSteps::Run::ChoosePatches() {
  if (!options_.delta || plan_.fetch.empty()) return;
  delta_.LoadIndex(release_.manifest_sha256(), release_.manifest_size(),
                   release_.verified() ? options_.trusted_key : "");
  delta_.Choose(plan_, release_.listed());
  for (const auto& choice : delta_.choices()) {
    outcome_->patch_sizes[choice.second.file->record.path] = choice.second.entry.patchSize;
  }
  outcome_->patch_bytes = delta_.patch_bytes();
  outcome_->patched_whole_bytes = delta_.whole_bytes();
  outcome_->patch_keyed_files = delta_.keyed_files();
}

PlanSizes UpdateSteps::Run::Sizes() const {
  PlanSizes sizes;
  for (const auto& file : release_.listed()) sizes.installed[file.first] = file.second->size;
  sizes.patches = outcome_->patch_sizes;
  sizes.patch_count = delta_.choices().size();
  sizes.patch_bytes = delta_.patch_bytes();
  sizes.patched_whole_bytes = delta_.whole_bytes();
  return sizes;
}

// After the fetch: the patches that made their files, not those that failed
// and were fetched whole, nor those of files staged by an earlier run.
PlanSizes UpdateSteps::Run::FetchedSizes() const {
  PlanSizes sizes = Sizes();
  sizes.patch_count = 0;
  sizes.patch_bytes = 0;
  sizes.patched_whole_bytes = 0;
  std::set<std::string> made(outcome_->patched.begin(), outcome_->patched.end());
  for (const auto& choice : delta_.choices()) {
    // The pool names a patched key by the file its patch starts from.
    const PlannedFile& file = *choice.second.file;
    if (made.count(file.record.path) == 0) continue;
    ++sizes.patch_count;
    sizes.patch_bytes += choice.second.entry.patchSize;
    sizes.patched_whole_bytes += ListedSize(file.record);
  }
  return sizes;
}

UpdateSteps::UpdateSteps(const UpdateOptions& options, ReleaseFetcher* fetcher,
                         UpdateReporter* reporter, UpdateOutcome* outcome)
    : run_(new Run(options, fetcher, reporter, outcome)) {}

UpdateSteps::~UpdateSteps() = default;

int UpdateSteps::Check() {
  if (int status = run_->Prepare()) return status;
  return run_->Plan();
}

int UpdateSteps::Stage(const FetchWatch& watch) { return run_->Stage(watch); }

int UpdateSteps::Install() { return run_->Install(); }

int RunUpdate(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome) {
  UpdateOutcome unused;
  if (outcome == nullptr) outcome = &unused;
  InstallLock lock;
  if (int status = lock.Take(options.install_dir, reporter, outcome)) return status;
  UpdateSteps steps(options, fetcher, reporter, outcome);
  if (int status = steps.Check()) return status;
  if (options.dry_run) return 0;
  if (int status = steps.Stage()) return status;
  return steps.Install();
}

}  // namespace update

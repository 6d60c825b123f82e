#include "update/update_engine.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/system_error.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/apply_journal.h"
#include "update/aside_copies.h"
#include "update/client_list.h"
#include "update/delta_fetch.h"
#include "update/durable_file.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/journal_check.h"
#include "update/release_state.h"
#include "update/staging.h"
#include "update/staging_cleanup.h"
#include "signing/bounded_file.h"
#include "signing/key_files.h"
#include "signing/manifest_check.h"
#include "signing/release_manifest.h"
#include "signing/sha256.h"
#include "signing/trusted_keys.h"
#include "update/update_plan.h"
#include "util/scoped_file.h"
#include "version/version_list.h"

namespace update {

namespace {

// Bounds on the two small files every run fetches first. A list of a
// million files compresses to far less.
constexpr uint64_t kMaxListDownload = uint64_t{1} << 30;
constexpr uint64_t kMaxKeyFileDownload = 64 * 1024;
// What they may decode to, whoever signed them: a million lines of the
// longest path, and one key. A gzip bomb would otherwise fill the disk with
// a thousand times its download before the list is found wrong.
constexpr uint64_t kMaxListDecoded = uint64_t{1} << 30;
constexpr uint64_t kMaxKeyFileDecoded = 64 * 1024;

// Names inside the staging folder besides the checked files.
const char kReleaseListName[] = "release-list";
const char kReleaseKeyName[] = "release-ver";
const char kNewListName[] = "list.new";
const char kNewJournalName[] = "journal.new";
const char kCopyName[] = "copy.new";
const char kNewAsideListName[] = "aside.new";
const char kManifestStaged[] = "release-manifest";
const char kSignatureStaged[] = "release-manifest-sig";
const char kNewStateName[] = "state.new";
constexpr uint64_t kMaxSignatureDownload = 4096;

std::string FormatSize(uint64_t bytes) {
  char text[64];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else if (bytes < (uint64_t{1} << 20)) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  } else if (bytes < (uint64_t{1} << 30)) {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  } else {
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  }
  return text;
}

bool EntryExists(const std::string& path) {
  return plat::PathExists(path.c_str()) || plat::IsLinkEntry(path);
}

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
        aside_(options.install_dir, staging_.PathOf(kNewAsideListName)),
        delta_(&staging_, fetcher, reporter) {
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
  bool ReadClientList(VersionRecordList* records, std::string* error);
  bool WriteClientList(const VersionRecordList& records, std::string* error);
  bool Recover(bool* recovered);
  int VerifyRelease();
  int CheckListAgainstManifest(const VersionRecordList& release);
  bool MatchesManifest(const VersionRecord& record, std::string* error) const;
  int FetchRelease(VersionRecordList* release);
  void PrintPlan(const UpdatePlan& plan);
  void ChoosePatches(const UpdatePlan& plan);
  std::string PatchSummary() const;
  int StageFiles(const UpdatePlan& plan);
  void ChoosePrunes(const UpdatePlan& plan, std::vector<JournalEntry>* entries);
  bool Apply(const std::vector<JournalEntry>& entries, bool recovering, int* failures);
  bool PlaceFile(const std::string& source, const std::string& release_path,
                 const std::vector<std::string>& parts, const std::string& target,
                 std::string* error);
  bool RemoveInstalled(const std::string& target, const std::vector<std::string>& parts);

  const UpdateOptions& options_;
  ReleaseFetcher* fetcher_;
  UpdateReporter* reporter_;
  UpdateOutcome* outcome_;
  std::string list_path_;
  std::string journal_path_;
  Staging staging_;
  AsideCopies aside_;
  std::string program_name_;
  std::vector<std::string> removed_;  // paths whose files a prune removed
  int refused_ = 0;  // journal entries refused when they were to be acted on
  // The release's signed manifest, once its signature held with the trusted
  // key; every file is then checked against it as well as against its key.
  bool verified_ = false;
  ReleaseManifest manifest_;
  std::map<std::string, const ManifestFile*> listed_;  // manifest_'s files by path
  // The Manifest's bytes, which the patch index names.
  std::string manifest_sha256_;
  uint64_t manifest_size_ = 0;
  DeltaFetch delta_;
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
  return Fail("the version list '" + list_path_ + "' cannot be written: " +
              std::strerror(errno != 0 ? errno : EACCES) + "; nothing was changed");
}

bool UpdateRun::ReadClientList(VersionRecordList* records, std::string* error) {
  return ReadInstalledList(list_path_, records, error);
}

bool UpdateRun::WriteClientList(const VersionRecordList& records, std::string* error) {
  return WriteInstalledList(list_path_, staging_.PathOf(kNewListName), records, error);
}

// Finishes an apply that a stopped run left behind: files it named are
// placed from the staging folder where they are not yet in place, and each
// is recorded only if it has its key.
bool UpdateRun::Recover(bool* recovered) {
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
    if (!CheckJournalEntry(entry, options_.install_dir, program_name_, &parts, &reason)) {
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

// With a trusted key, nothing of the release is fetched before its manifest
// is found signed by that key, and a release numbered below the installed
// one is refused.
int UpdateRun::VerifyRelease() {
  std::string error;
  if (options_.trusted_key.empty()) {
    reporter_->Note("the release is not verified: no trusted key (" + std::string(kTrustedKeyName) +
                    " in the install directory, or --trust FILE)");
    // Its Manifest, where there is one, still says which new files are
    // programs; it vouches for nothing else here.
    std::string text;
    if (staging_.FetchRaw(fetcher_, {kManifestName}, kManifestSizeLimit, kManifestStaged, &error) &&
        ReadBoundedFile(staging_.PathOf(kManifestStaged).c_str(), kManifestSizeLimit, &text) &&
        ParseManifest(text, &manifest_, &error)) {
      for (const ManifestFile& file : manifest_.files) listed_[file.path] = &file;
      Sha256OfFile(staging_.PathOf(kManifestStaged).c_str(), &manifest_sha256_, &manifest_size_);
      outcome_->has_sequence = true;
      outcome_->sequence = manifest_.sequence;
    }
    staging_.Discard(kManifestStaged);
    return 0;
  }
  std::vector<Ed25519PublicKey> trusted;
  if (!ReadTrustedKeysFile(options_.trusted_key.c_str(), &trusted)) {
    // A key that is there in any form but cannot be read never lets a
    // release in unverified.
    return Fail("cannot read the trusted key '" + options_.trusted_key +
                "' as an Ed25519 public key; nothing was installed");
  }
  if (!staging_.FetchRaw(fetcher_, {kManifestName}, kManifestSizeLimit, kManifestStaged, &error)) {
    return Fail("the release is not signed: cannot fetch its Manifest from '" +
                fetcher_->Location() + "': " + error + "; nothing was installed");
  }
  if (!staging_.FetchRaw(fetcher_, {kManifestSignatureName}, kMaxSignatureDownload,
                         kSignatureStaged, &error)) {
    staging_.Discard(kManifestStaged);
    return Fail("the release is not signed: cannot fetch its signature Manifest.sig from '" +
                fetcher_->Location() + "': " + error + "; nothing was installed");
  }
  ManifestCheck result =
      CheckSignedManifest(staging_.PathOf(kManifestStaged), staging_.PathOf(kSignatureStaged),
                          options_.trusted_key, &manifest_, &error);
  if (result == ManifestCheck::kVerified &&
      !Sha256OfFile(staging_.PathOf(kManifestStaged).c_str(), &manifest_sha256_, &manifest_size_)) {
    manifest_sha256_.clear();
  }
  staging_.Discard(kManifestStaged);
  staging_.Discard(kSignatureStaged);
  if (result != ManifestCheck::kVerified) {
    std::string detail = result == ManifestCheck::kBadManifest && !error.empty() ? " (" + error + ")"
                         : result == ManifestCheck::kBadPublicKey ? ": '" + options_.trusted_key + "'"
                                                                   : "";
    return Fail(std::string("refusing the release: ") + DescribeManifestCheck(result) + detail +
                "; nothing was installed");
  }
  if (options_.expected_sequence != 0 && manifest_.sequence != options_.expected_sequence) {
    return Fail("refusing release " + std::to_string(manifest_.sequence) +
                ": the channel names release " + std::to_string(options_.expected_sequence) +
                "; nothing was installed");
  }
  uint64_t installed = 0;
  switch (ReadReleaseState(options_.install_dir, &installed)) {
    case ReleaseState::kDamaged:
      return Fail("cannot read the installed release's number in '" +
                  JoinInstallPath(options_.install_dir, {kReleaseStateName}) +
                  "'; nothing was installed");
    case ReleaseState::kRead:
      if (manifest_.sequence < installed && !options_.allow_downgrade &&
          manifest_.sequence != options_.expected_sequence) {
        return Fail("refusing release " + std::to_string(manifest_.sequence) +
                    ": it is older than the installed release " + std::to_string(installed) +
                    " (--allow-downgrade takes it); nothing was installed");
      }
      break;
    case ReleaseState::kNone:
      break;
  }
  for (const ManifestFile& file : manifest_.files) listed_[file.path] = &file;
  verified_ = true;
  outcome_->verified = true;
  outcome_->has_sequence = true;
  outcome_->sequence = manifest_.sequence;
  reporter_->Note("the release is signed by the trusted key (release " +
                  std::to_string(manifest_.sequence) + ", built " + manifest_.built + ")");
  return 0;
}

// The signed list and the manifest must name the same files with the same
// compressed sizes: a file the manifest does not vouch for is not taken.
int UpdateRun::CheckListAgainstManifest(const VersionRecordList& release) {
  if (!verified_) return 0;
  for (const VersionRecord& record : release) {
    auto found = listed_.find(record.path);
    if (found == listed_.end() || found->second->gzipSize != ListedSize(record)) {
      return Fail("refusing the release: '" + record.path +
                  "' is not listed so in the signed Manifest; nothing was installed");
    }
  }
  if (release.size() != manifest_.files.size()) {
    return Fail("refusing the release: the signed Manifest lists " +
                std::to_string(manifest_.files.size()) + " files, VerComp.dat " +
                std::to_string(release.size()) + "; nothing was installed");
  }
  return 0;
}

// A staged file has the content the manifest gives for its path.
bool UpdateRun::MatchesManifest(const VersionRecord& record, std::string* error) const {
  auto found = listed_.find(record.path);
  if (found == listed_.end()) {
    *error = "the signed Manifest does not list it";
    return false;
  }
  std::string detail;
  if (MatchesListedFile(staging_.CheckedPath(record.key), found->second->sha256,
                        found->second->size, &detail)) {
    return true;
  }
  *error = "it does not match the signed Manifest: " + detail;
  return false;
}

int UpdateRun::FetchRelease(VersionRecordList* release) {
  std::string error;
  std::string list_key;
  // With a signed manifest, the list and its key file are taken only with
  // the digests it gives for them, before they are decoded.
  auto listed_as = [this](const std::string& sha256, uint64_t size, const char* name) {
    return DownloadCheck([this, sha256, size, name](const std::string& path, std::string* error) {
      if (!verified_) return true;
      std::string detail;
      if (MatchesListedFile(path, sha256, size, &detail)) return true;
      *error = std::string(name) + " does not match the signed Manifest (" + detail + ")";
      return false;
    });
  };
  // A signed manifest gives each file's size: a server that sends more is
  // cut off there rather than at the general bound.
  uint64_t list_bound = verified_ ? manifest_.verCompSize : kMaxListDownload;
  uint64_t key_bound = verified_ ? manifest_.verSize : kMaxKeyFileDownload;
  if (!staging_.FetchDecoded(fetcher_, {kClientListName}, list_bound, kMaxListDecoded,
                             kReleaseListName,
                             &list_key, &error,
                             listed_as(manifest_.verCompSha256, manifest_.verCompSize,
                                       kClientListName))) {
    return Fail("cannot fetch the version list from '" + fetcher_->Location() + "': " + error);
  }
  std::string unused;
  if (!staging_.FetchDecoded(fetcher_, {kKeyFileName}, key_bound, kMaxKeyFileDecoded,
                             kReleaseKeyName,
                             &unused, &error,
                             listed_as(manifest_.verSha256, manifest_.verSize, kKeyFileName))) {
    return Fail("cannot fetch the key file Ver from '" + fetcher_->Location() + "': " + error);
  }
  // The list is taken only with its key file, so that a half-uploaded
  // release is not taken for a whole one.
  std::string expected;
  {
    util::ScopedFile ver(
        plat::OpenFile(staging_.PathOf(kReleaseKeyName).c_str(), "rb"));
    char text[32];
    if (ver && std::fread(text, 1, sizeof text, ver.get()) == sizeof text) {
      expected.assign(text, sizeof text);
    }
  }
  staging_.Discard(kReleaseKeyName);
  if (expected != list_key) {
    staging_.Discard(kReleaseListName);
    return Fail("the release's VerComp.dat does not match its key file Ver; the release is "
                "incomplete or damaged, nothing was installed");
  }
  PathIndex index;
  bool read = ReadVersionList(staging_.PathOf(kReleaseListName).c_str(), release, &index);
  staging_.Discard(kReleaseListName);
  if (!read) return Fail("cannot read the release's version list");
  return 0;
}

void UpdateRun::PrintPlan(const UpdatePlan& plan) {
  // The list gives compressed sizes; the Manifest, where there is one, the
  // sizes the files will have once installed.
  uint64_t file_bytes = 0;
  bool all_known = true;
  for (const PlannedFile& file : plan.fetch) {
    auto found = listed_.find(file.record.path);
    if (found == listed_.end()) {
      all_known = false;
    } else {
      file_bytes += found->second->size;
    }
  }
  reporter_->Note("would fetch " + std::to_string(plan.fetch.size()) + " files, " +
                  FormatSize(plan.fetch_bytes) + " compressed" +
                  (all_known && !plan.fetch.empty() ? ", " + FormatSize(file_bytes) + " installed"
                                                    : "") +
                  PatchSummary());
  for (const PlannedFile& file : plan.fetch) {
    char line[64];
    std::snprintf(line, sizeof line, "  %-7s ", file.changed ? "changed" : "new");
    auto found = listed_.find(file.record.path);
    std::string sizes = found == listed_.end()
                            ? FormatSize(ListedSize(file.record)) + " compressed"
                            : FormatSize(found->second->size) + ", " +
                                  FormatSize(ListedSize(file.record)) + " compressed";
    auto patch = outcome_->patch_sizes.find(file.record.path);
    if (patch != outcome_->patch_sizes.end()) sizes += ", patch " + FormatSize(patch->second);
    reporter_->Note(line + file.record.path + " (" + sizes + ")");
  }
  std::string tail = plan.obsolete.empty()
                         ? ""
                         : (options_.prune ? " and would be removed" : " and would be kept");
  reporter_->Note(std::to_string(plan.obsolete.size()) + " files are no longer in the release" +
                  tail);
  for (const PlannedFile& file : plan.obsolete) reporter_->Note("  obsolete " + file.record.path);
}

// Patches where the release offers one from what is installed; the plan
// itself stays as it is.
void UpdateRun::ChoosePatches(const UpdatePlan& plan) {
  if (!options_.delta || plan.fetch.empty()) return;
  delta_.LoadIndex(manifest_sha256_, manifest_size_, verified_ ? options_.trusted_key : "");
  delta_.Choose(plan, listed_);
  for (const auto& choice : delta_.choices()) {
    outcome_->patch_sizes[choice.second.file->record.path] = choice.second.entry.patchSize;
  }
  outcome_->patch_bytes = delta_.patch_bytes();
  outcome_->patched_whole_bytes = delta_.whole_bytes();
}

// ", N by patches of P in place of W", or nothing without patches.
std::string UpdateRun::PatchSummary() const {
  if (delta_.choices().empty()) return "";
  return "; " + std::to_string(delta_.choices().size()) + " by patches of " +
         FormatSize(delta_.patch_bytes()) + " in place of " + FormatSize(delta_.whole_bytes());
}

int UpdateRun::StageFiles(const UpdatePlan& plan) {
  reporter_->BeginFetch(plan.fetch_bytes - delta_.whole_bytes() + delta_.patch_bytes(),
                        static_cast<int>(plan.fetch.size()));
  // Files with one key are fetched once, for every path that lists it.
  struct KeyJob {
    std::vector<const PlannedFile*> files;
    uint64_t received = 0;
  };
  std::vector<KeyJob> jobs;
  std::map<std::string, size_t> job_of_key;
  for (const PlannedFile& file : plan.fetch) {
    auto found = job_of_key.emplace(file.record.key, jobs.size());
    if (found.second) jobs.emplace_back();
    jobs[found.first->second].files.push_back(&file);
  }
  // The reporter hears from one thread at a time; the bytes it is told are
  // those of every transfer under way, so its progress counts them all.
  std::mutex report;
  uint64_t in_flight = 0;
  int failures = 0;
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < jobs.size(); index = next++) {
      KeyJob& job = jobs[index];
      const PlannedFile& first = *job.files.front();
      {
        std::lock_guard<std::mutex> hold(report);
        reporter_->StartFile(first.record.path);
      }
      FetchProgress progress = [&](uint64_t got) {
        std::lock_guard<std::mutex> hold(report);
        in_flight = in_flight - job.received + got;
        job.received = got;
        reporter_->FileBytes(in_flight);
      };
      std::string error;
      bool ok = staging_.HasChecked(first.record.key);
      const ChosenPatch* patch = ok ? nullptr : delta_.ChoiceFor(first.record.key);
      if (patch != nullptr) {
        ok = delta_.Stage(first.record.key, progress);
        if (!ok) patch = nullptr;
        std::lock_guard<std::mutex> hold(report);
        (ok ? outcome_->patched : outcome_->patch_failed).push_back(first.record.path);
      }
      ok = ok || staging_.FetchChecked(fetcher_, first.parts, first.record.key,
                                       ListedSize(first.record), progress, &error);
      std::lock_guard<std::mutex> hold(report);
      in_flight -= job.received;
      if (ok && verified_) {
        for (const PlannedFile* file : job.files) {
          if (!MatchesManifest(file->record, &error)) {
            ok = false;
            break;
          }
        }
        // Not kept for a later run either.
        if (!ok) staging_.Discard(first.record.key);
      }
      if (ok && !listed_.empty()) {
        // The staged file carries its mode already, so that a run that
        // finishes this apply after a stop places it as this one would.
        auto found = listed_.find(first.record.path);
        plat::SetExecutableBits(staging_.CheckedPath(first.record.key).c_str(),
                                found != listed_.end() && found->second->executable);
      }
      for (const PlannedFile* file : job.files) {
        if (!ok) {
          ++failures;
          reporter_->Problem("cannot fetch '" + file->record.path + "': " + error);
          outcome_->failed.push_back(file->record.path);
        }
        // What was fetched for it: the patch, where one made it.
        reporter_->FinishFile(file->record.path,
                              patch != nullptr ? patch->entry.patchSize : ListedSize(file->record),
                              ok);
      }
      if (in_flight > 0) reporter_->FileBytes(in_flight);
    }
  };
  size_t threads = std::min<size_t>(options_.jobs < 1 ? 1 : options_.jobs, jobs.size());
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < threads; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& helper : helpers) helper.join();
  reporter_->EndFetch();
  return failures;
}

void UpdateRun::ChoosePrunes(const UpdatePlan& plan, std::vector<JournalEntry>* entries) {
  for (const PlannedFile& file : plan.obsolete) {
    JournalEntry entry;
    entry.kind = JournalEntry::kRemove;
    entry.record = file.record;
    if (EntryExists(file.target) && !options_.force) {
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

bool UpdateRun::PlaceFile(const std::string& source, const std::string& release_path,
                          const std::vector<std::string>& parts, const std::string& target,
                          std::string* error) {
  std::string dir = options_.install_dir;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    dir = JoinInstallPath(dir, {parts[i]});
    if (plat::IsLinkEntry(dir) && !LinkStaysInside(dir, options_.install_dir)) {
      *error = "'" + dir + "' is a link that leads outside the install directory";
      return false;
    }
    if (plat::PathExists(dir.c_str())) continue;
    FaultPoint();
    if (plat::MakeOneDirectory(dir.c_str()) == plat::MakeDirResult::kFailed) {
      *error = "cannot make the folder '" + dir + "': " + plat::LastErrorText();
      return false;
    }
  }
  if (!listed_.empty() && !plat::PathExists(target.c_str())) {
    // A new file is executable exactly when the manifest says so; a
    // replaced one keeps the permissions it had.
    auto found = listed_.find(release_path);
    plat::SetExecutableBits(source.c_str(), found != listed_.end() && found->second->executable);
  }
  if (plat::IsLinkEntry(target)) {
    // A link is replaced by the file, never written through.
    FaultPoint();
    plat::RemoveFile(target.c_str());
  } else if (plat::PathExists(target.c_str())) {
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
  if (plat::ReplaceFileAtomically(source.c_str(), target.c_str())) return true;
  std::string reason = plat::LastErrorText();
  if (!plat::IsFileInUse(target)) {
    *error = "cannot replace '" + target + "': " + reason;
    return false;
  }
  // A running program or a loaded library (this updater among them) cannot
  // be overwritten on Windows but can be renamed: it runs on under its new
  // name, and a later run removes it.
  std::string aside;
  switch (aside_.MoveAside(target, parts, &aside, error)) {
    case AsideCopies::MoveResult::kMoved:
      break;
    case AsideCopies::MoveResult::kHeld:
      *error = "'" + target + "' is in use by another program and cannot be replaced now; close "
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
bool UpdateRun::RemoveInstalled(const std::string& target, const std::vector<std::string>& parts) {
  FaultPoint();
  if (plat::RemoveFile(target.c_str())) return true;
  if (plat::IsFileInUse(target)) {
    std::string aside;
    std::string error;
    return aside_.MoveAside(target, parts, &aside, &error) == AsideCopies::MoveResult::kMoved;
  }
  return plat::SetAttributesNormal(target.c_str()) && plat::RemoveFile(target.c_str());
}

// Places and removes the journal's files and records the outcome. The
// client list first loses every record the journal names, so that it never
// vouches for a file in the middle of being changed; it is written whole
// again once the files are in place.
bool UpdateRun::Apply(const std::vector<JournalEntry>& entries, bool recovering, int* failures) {
  std::string error;
  VersionRecordList client;
  if (!ReadClientList(&client, &error)) {
    reporter_->Problem(error);
    return false;
  }
  std::set<std::string> named;
  std::map<std::string, int> uses;  // placements still to come, by key
  for (const JournalEntry& entry : entries) {
    named.insert(entry.record.path);
    if (entry.kind == JournalEntry::kPlace) ++uses[entry.record.key];
  }
  VersionRecordList retracted;
  for (const VersionRecord& record : client) {
    if (named.count(record.path) == 0) retracted.push_back(record);
  }
  if (retracted.size() != client.size() && !WriteClientList(retracted, &error)) {
    reporter_->Problem(error);
    return false;
  }

  // What this run does is its outcome; what it finishes for an earlier run
  // was that run's.
  auto failed = [&](const std::string& path) {
    ++*failures;
    if (!recovering) outcome_->failed.push_back(path);
  };
  std::map<std::string, VersionRecord> placed;
  std::map<std::string, std::string> placed_at;  // release path by target
  for (const JournalEntry& entry : entries) {
    const VersionRecord& record = entry.record;
    std::vector<std::string> parts;
    std::string reason;
    // Checked again now: a link may have been put in the way since.
    if (!CheckJournalEntry(entry, options_.install_dir, program_name_, &parts, &reason)) {
      reporter_->Problem("refusing '" + record.path + "', which " + reason);
      ++refused_;
      failed(record.path);
      continue;
    }
    std::string target = JoinInstallPath(options_.install_dir, parts);
    if (entry.kind == JournalEntry::kRemove) {
      std::string key;
      bool matches = KeyOfInstalledFile(target, &key) && key == record.key;
      if (EntryExists(target) && (matches || (!recovering && options_.force))) {
        if (RemoveInstalled(target, parts)) {
          removed_.push_back(record.path);
          if (!recovering) outcome_->removed.push_back(record.path);
          RemoveEmptyFolders(options_.install_dir, parts);
        } else {
          reporter_->Problem("cannot remove '" + target + "': " + plat::LastErrorText());
          failed(record.path);
        }
      }
      continue;
    }
    int remaining = --uses[record.key];
    std::string key;
    if (recovering && KeyOfInstalledFile(target, &key) && key == record.key) {
      // Placed by a run that was stopped, maybe before it flushed it.
      placed[record.path] = record;
      placed_at[target] = record.path;
      continue;
    }
    std::string source = staging_.CheckedPath(record.key);
    // This run checked its staged files a moment ago; a finishing run
    // checks again what an earlier one left.
    bool staged = recovering ? staging_.HasChecked(record.key) : plat::PathExists(source.c_str());
    if (!staged) {
      if (!recovering) reporter_->Problem("the checked copy of '" + record.path + "' is gone");
      failed(record.path);
      continue;
    }
    if (remaining > 0) {
      // Another path needs the same bytes: it gets the checked file itself.
      source = staging_.PathOf(kCopyName);
      if (!CopyToNew(staging_.CheckedPath(record.key), source, &error)) {
        reporter_->Problem("cannot copy '" + record.path + "': " + error);
        failed(record.path);
        continue;
      }
    }
    if (PlaceFile(source, record.path, parts, target, &error)) {
      placed[record.path] = record;
      placed_at[target] = record.path;
      if (!recovering) outcome_->placed.push_back(record.path);
    } else {
      reporter_->Problem(error);
      failed(record.path);
    }
  }

  // The placed files' data reaches the disk before the list that vouches
  // for them does; one that cannot be flushed is not recorded, so the next
  // run places it again.
  std::vector<std::string> targets;
  for (const auto& item : placed_at) targets.push_back(item.first);
  for (const std::string& target : plat::SyncFiles(options_.install_dir, targets)) {
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
  if (!WriteClientList(final_list, &error)) {
    reporter_->Problem(error);
    return false;
  }
  FaultPoint();
  plat::RemoveFile(journal_path_.c_str());
  plat::SyncDirectory(options_.install_dir);
  return true;
}

int UpdateRun::Run() {
  plat::FileLock lock;
  if (int status = TakeLock(&lock)) return status;
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
  } else {
    // Old copies that earlier runs moved aside go as soon as nothing holds
    // them; a failure here only leaves them for a later run.
    if (!aside_.RemoveUnused(&error)) reporter_->Problem(error);
    bool recovered = false;
    if (!Recover(&recovered)) return Fail("cannot finish the interrupted update; run again");
  }

  if (int status = VerifyRelease()) return status;
  VersionRecordList release;
  if (int status = FetchRelease(&release)) return status;
  if (int status = CheckListAgainstManifest(release)) return status;
  VersionRecordList client;
  if (!ReadClientList(&client, &error)) return Fail(error);

  PlanSettings settings;
  settings.install_dir = options_.install_dir;
  settings.program_name = program_name_;
  settings.repair = options_.repair;
  UpdatePlan plan;
  std::vector<std::string> refusals;
  if (!MakeUpdatePlan(release, client, settings, &plan, &refusals)) {
    for (size_t i = 0; i < refusals.size() && i < 10; ++i) {
      reporter_->Problem("the release lists " + refusals[i]);
    }
    return Fail("refusing the release: " + std::to_string(refusals.size()) +
                " of its paths are not safe to write; nothing was installed");
  }
  for (const std::string& warning : plan.warnings) reporter_->Problem(warning);
  outcome_->planned = true;
  outcome_->plan = plan;
  ChoosePatches(plan);
  if (options_.dry_run) {
    PrintPlan(plan);
    plat::RemoveEmptyDirectory(staging_.dir().c_str());
    return 0;
  }

  int staging_failures = StageFiles(plan);
  outcome_->received = fetcher_->BytesReceived();
  if (staging_failures > 0) {
    return Fail(std::to_string(staging_failures) +
                " files failed; nothing was replaced; run again to retry" +
                StagingLeftNote(options_.install_dir));
  }
  std::vector<JournalEntry> entries;
  for (const PlannedFile& file : plan.fetch) {
    JournalEntry entry;
    entry.record = file.record;
    entries.push_back(entry);
  }
  if (options_.prune) ChoosePrunes(plan, &entries);

  int failures = 0;
  if (entries.empty()) {
    reporter_->Note("already up to date with " + fetcher_->Location());
  } else {
    // The release's number is recorded before any installed file changes:
    // the floor that keeps older releases out never lags what is installed,
    // whether this apply is stopped or a file cannot be replaced.
    if (verified_ && !WriteReleaseState(options_.install_dir, staging_.PathOf(kNewStateName),
                                        manifest_.sequence, &error)) {
      return Fail("cannot record the installed release's number: " + error +
                  "; nothing was replaced");
    }
    // From here on every installed file the journal names may change; the
    // journal is on the disk first, so that a stop at any point is finished
    // by the next run.
    if (!WriteJournal(journal_path_, staging_.PathOf(kNewJournalName), entries, &error)) {
      return Fail("cannot write the journal '" + journal_path_ + "': " + error +
                  "; nothing was replaced");
    }
    if (!Apply(entries, false, &failures)) {
      return Fail("the update stopped part-way; run again to finish it");
    }
    if (!plan.fetch.empty()) {
      // What came over the network, when that is known: retries and
      // resumed files make it differ from what the release lists.
      uint64_t received = fetcher_->BytesReceived();
      reporter_->Note("fetched " + std::to_string(plan.fetch.size()) + " files (" +
                      FormatSize(plan.fetch_bytes) +
                      (received > 0 ? ", " + FormatSize(received) + " received" : "") +
                      PatchSummary() +
                      ") from " + fetcher_->Location());
    }
    for (const std::string& path : removed_) reporter_->Note("removed " + path);
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
    return Fail(std::to_string(failures) + " files failed; run again to retry" +
                StagingLeftNote(options_.install_dir));
  }
  if (verified_ && !WriteReleaseState(options_.install_dir, staging_.PathOf(kNewStateName),
                                      manifest_.sequence, &error)) {
    staging_.RemoveAll();
    return Fail("cannot record the installed release's number: " + error);
  }
  staging_.RemoveAll();
  return 0;
}

}  // namespace

int RunUpdate(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome) {
  UpdateOutcome unused;
  UpdateRun run(options, fetcher, reporter, outcome != nullptr ? outcome : &unused);
  return run.Run();
}

}  // namespace update

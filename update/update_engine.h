// The update engine: brings an install folder up to a release, safely.
//
// A run takes the folder's lock, finishes an apply that an earlier run left
// unfinished, fetches the release's list and checks it against its key file,
// plans, fetches and checks every file into the staging folder, and only
// then applies: the files about to change are written to a durable journal,
// placed by rename, and the client list is written once. Any failure before
// the apply leaves the installed files and the client list as they were.
// A file that a running program holds is moved aside in its folder and
// replaced (aside_copies.h); one that cannot even be moved stays checked in
// the staging folder for the next run.
#ifndef FILEDIST_UPDATE_UPDATE_ENGINE_H
#define FILEDIST_UPDATE_UPDATE_ENGINE_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "update/release_fetcher.h"
#include "update/update_plan.h"
#include "update/update_reporter.h"

namespace update {

struct UpdateOptions {
  std::string install_dir;  // the folder brought up to the release
  // The running updater, never deleted and replaced only safely; empty for
  // this process's own program file.
  std::string program_path;
  bool prune = false;    // remove files the release no longer lists
  bool force = false;    // prune also files changed since they were installed
  bool dry_run = false;  // say what would be done; change no installed file
  bool repair = false;   // re-key every listed file and fetch what does not match
  // Files fetched at once, each by a thread of its own; the fetcher must
  // take that many calls at a time.
  int jobs = 1;
  // The Ed25519 public key file releases must be signed with; empty: the
  // release is taken unverified, as its key file vouches for its list.
  std::string trusted_key;
  // Take a signed release numbered below the one installed.
  bool allow_downgrade = false;
  // Above 0: the signed release must carry exactly this Manifest sequence,
  // as a channel pointer the trusted key signed names it; it may then be
  // older than the installed one (the publisher pointed the channel back).
  uint64_t expected_sequence = 0;
  // Fetch the release's binary patches where one starts from the installed
  // content (update/delta_fetch.h); false fetches whole files only.
  bool delta = true;
};

// Why a run failed, for a host that acts on the kind rather than the words.
enum class UpdateFailure {
  kNone,
  kUsage,      // asked for something that cannot be done (bad option, wrong order)
  kNetwork,    // the release or one of its files could not be fetched
  kRefused,    // the release is not one to take: unsigned, forged, older, unsafe
  kDisk,       // the install folder could not be read or written
  kCancelled,  // the host stopped the download
  kLocked,     // another update of the folder is running
};

// What a run planned and did, as far as it got, for a front end that shows
// it in a form of its own (the program's --json); the reporter's lines say
// the same to a person. Paths are the release's, as its list gives them.
struct UpdateOutcome {
  bool planned = false;  // plan is the run's plan (false: the run stopped before)
  UpdatePlan plan;
  bool verified = false;  // the release is signed by the trusted key
  // The release's Manifest, where it has one that could be read: its
  // sequence number.
  bool has_sequence = false;
  uint64_t sequence = 0;
  bool interrupted = false;      // an interrupted update was found (and finished, unless dry_run)
  size_t interrupted_files = 0;  // files its journal named
  std::vector<std::string> placed;   // installed now with the release's key
  std::vector<std::string> removed;  // pruned
  std::vector<std::string> kept;     // no longer in the release, left installed
  std::vector<std::string> failed;   // could not be fetched, placed or removed
  uint64_t received = 0;             // bytes that came over the network (0 from a folder)
  // The patches planned: path -> patch bytes, fetched instead of the
  // compressed file; their total and the total of the files they replace.
  std::map<std::string, uint64_t> patch_sizes;
  uint64_t patch_bytes = 0;
  uint64_t patched_whole_bytes = 0;
  // What the fetch is planned to bring: plan.fetch_bytes with the patches in
  // place of the files they stand for; a watch's total starts here.
  uint64_t expected_bytes = 0;
  // Installed files read whole to find the patches that start from them.
  size_t patch_keyed_files = 0;
  std::vector<std::string> patched;              // staged from a patch
  std::vector<std::string> patch_failed;         // a patch failed; fetched whole instead
  bool up_to_date = false;                       // the apply found nothing to place or remove
  UpdateFailure failure = UpdateFailure::kNone;  // the last failure's kind
};

// Watches a fetch from the thread that started it: called there about ten
// times a second while files arrive and once when all are done, with the
// bytes fetched of all and the path of the file begun last. Both count what
// comes over (a patched file its patch), so the total starts as the
// outcome's expected_bytes, grows when a patch fails and its whole file
// comes instead, and the last call has done == total. True stops the
// fetch: transfers are cut off, what was checked stays staged.
using FetchWatch =
    std::function<bool(uint64_t bytes_done, uint64_t bytes_total, const std::string& path)>;

// The install folder's lock, which every run holds: two runs on one folder
// never overlap. A host holds it for as long as its session lasts.
class InstallLock {
 public:
  InstallLock();
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  // 0, or 1 with the problem reported and outcome->failure set (kLocked
  // while another run holds it).
  int Take(const std::string& install_dir, UpdateReporter* reporter, UpdateOutcome* outcome);

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

// A run's steps one at a time, for a host that checks, fetches and applies
// when it chooses; RunUpdate runs them in one go. The caller holds the
// InstallLock throughout. Each returns 0 or 1 like RunUpdate; the options,
// fetcher, reporter and outcome must outlive the object.
class UpdateSteps {
 public:
  UpdateSteps(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome);
  ~UpdateSteps();
  UpdateSteps(const UpdateSteps&) = delete;
  UpdateSteps& operator=(const UpdateSteps&) = delete;

  // Finishes an interrupted apply, checks the release and plans
  // (outcome->plan); with dry_run the plan is shown and nothing more is done.
  int Check();
  // Fetches and checks the planned files into the staging folder; watch,
  // when given, runs on this thread and may cancel.
  int Stage(const FetchWatch& watch = FetchWatch());
  // The journaled apply of what was staged.
  int Install();

 private:
  class Run;
  std::unique_ptr<Run> run_;
};

// Exit status: 0 when every file the release lists is installed with its
// key, 1 when anything failed (each failure reported). outcome, when not
// null, is filled as the run goes.
int RunUpdate(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome = nullptr);

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_ENGINE_H

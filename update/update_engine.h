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

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "update/release_fetcher.h"
#include "update/update_plan.h"
#include "update/update_reporter.h"

namespace update {

struct UpdateOptions {
  std::string install_dir;   // the folder brought up to the release
  // The running updater, never deleted and replaced only safely; empty for
  // this process's own program file.
  std::string program_path;
  bool prune = false;        // remove files the release no longer lists
  bool force = false;        // prune also files changed since they were installed
  bool dry_run = false;      // say what would be done; change no installed file
  bool repair = false;       // re-key every listed file and fetch what does not match
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
  bool interrupted = false;  // an interrupted update was found (and finished, unless dry_run)
  size_t interrupted_files = 0;  // files its journal named
  std::vector<std::string> placed;   // installed now with the release's key
  std::vector<std::string> removed;  // pruned
  std::vector<std::string> kept;     // no longer in the release, left installed
  std::vector<std::string> failed;   // could not be fetched, placed or removed
  uint64_t received = 0;  // bytes that came over the network (0 from a folder)
  // The patches planned: path -> patch bytes, fetched instead of the
  // compressed file; their total and the total of the files they replace.
  std::map<std::string, uint64_t> patch_sizes;
  uint64_t patch_bytes = 0;
  uint64_t patched_whole_bytes = 0;
  std::vector<std::string> patched;  // staged from a patch
  std::vector<std::string> patch_failed;  // a patch failed; fetched whole instead
};

// Exit status: 0 when every file the release lists is installed with its
// key, 1 when anything failed (each failure reported). outcome, when not
// null, is filled as the run goes.
int RunUpdate(const UpdateOptions& options, ReleaseFetcher* fetcher, UpdateReporter* reporter,
              UpdateOutcome* outcome = nullptr);

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_ENGINE_H

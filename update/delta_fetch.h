// Binary patches on the client: where the release offers a patch from the
// content installed now to the content it lists, the patch is fetched
// instead of the whole compressed file, applied into the staging folder as
// a stream and checked as a whole file is. Everything else about staging
// stays as it is: the result lands under the same checked name, so the
// journal, the apply phase, resume, files in use and --repair see no
// difference.
//
// Trust: the patch index (protocol/patch_index.h) goes with one Manifest,
// whose SHA-256 it gives. With a trusted key the index is taken only with a
// signature by that key, and a patch only with the size and SHA-256 the
// index gives, before a byte of it is read as a patch. Without one, as for
// whole files, the result's key (from the key-checked version list) and the
// Manifest's SHA-256 and size vouch for it.
//
// Anything wrong with a patch (missing, damaged, made from other content, a
// result that fails its check) gives one warning line, and the caller
// fetches the whole file in the same run.
#ifndef FILEDIST_UPDATE_DELTA_FETCH_H
#define FILEDIST_UPDATE_DELTA_FETCH_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"
#include "update/release_fetcher.h"
#include "update/staging.h"
#include "update/update_plan.h"
#include "update/update_reporter.h"

namespace update {

// The patch chosen for one key of the plan.
struct ChosenPatch {
  const PlannedFile* file = nullptr;  // the path whose installed content it starts from
  PatchEntry entry;
  uint64_t resultSize = 0;   // the plain size the Manifest lists
  std::string resultSha256;  // and its SHA-256
};

class DeltaFetch {
 public:
  DeltaFetch(Staging* staging, ReleaseFetcher* fetcher, UpdateReporter* reporter)
      : staging_(staging), fetcher_(fetcher), reporter_(reporter) {}

  // Fetches the release's patch index, if it has one, and keeps it when it
  // goes with the Manifest of manifestSha256 and manifestSize (and, with a
  // trustedKey, the trusted keys file, carries the signature of any one of
  // its keys, as the Manifest may). No index is no patches.
  void LoadIndex(const std::string& manifestSha256, uint64_t manifestSize,
                 const std::string& trustedKey);

  // Keys the installed file of every changed path of plan that the index
  // has patches for, and picks a patch for each key to fetch where one
  // starts from what is installed. files: the Manifest's files by path.
  void Choose(const UpdatePlan& plan, const std::map<std::string, const ManifestFile*>& files);

  // The patch chosen for the key, or null.
  const ChosenPatch* ChoiceFor(const std::string& key) const;

  // Fetches and applies the chosen patch for key into the staging folder's
  // checked file for it. False when there is no choice or the patch failed
  // (*warning then gets the one line to tell): the caller fetches the whole
  // file. Called from download threads, it tells the reporter nothing
  // itself: the caller reports the warning as it reports the rest of the
  // transfer. fetcher, when given, takes the patch in place of the one
  // constructed with (the fetch pool's, which a host's cancel cuts off).
  // disk_error, when given, gets a failure of the staging folder (a full
  // disk, a read-only file system) in place of the warning: the whole file
  // would meet it too, so the caller fails the file instead.
  bool Stage(const std::string& key, const FetchProgress& progress, std::string* warning,
             ReleaseFetcher* fetcher = nullptr, std::string* disk_error = nullptr);

  // What Choose picked: bytes of the patches and of the whole compressed
  // files they stand for.
  uint64_t patch_bytes() const { return patch_bytes_; }
  uint64_t whole_bytes() const { return whole_bytes_; }
  const std::map<std::string, ChosenPatch>& choices() const { return choices_; }
  // Installed files Choose read whole to key them: only those whose length
  // a patch starts from.
  size_t keyed_files() const { return keyed_files_; }

 private:
  bool Apply(const ChosenPatch& choice, const std::string& key, const FetchProgress& progress,
             ReleaseFetcher* fetcher, std::string* error, bool* disk);

  Staging* staging_;
  ReleaseFetcher* fetcher_;
  UpdateReporter* reporter_;
  bool loaded_ = false;
  PatchIndex index_;
  std::map<std::string, ChosenPatch> choices_;  // by the key they make
  uint64_t patch_bytes_ = 0;
  uint64_t whole_bytes_ = 0;
  size_t keyed_files_ = 0;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_DELTA_FETCH_H

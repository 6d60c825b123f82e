// Checking the release before anything of it is staged: its signed
// Manifest against the trusted key and the installed release's number, its
// version list against its key file Ver, and the list against the Manifest.
// Every refusal is told to the reporter and returned as a run's status 1;
// nothing installed is touched here.
#ifndef FILEDIST_UPDATE_RELEASE_CHECK_H
#define FILEDIST_UPDATE_RELEASE_CHECK_H

#include <map>
#include <string>
#include <vector>

#include "protocol/release_manifest.h"
#include "update/release_fetcher.h"
#include "update/staging.h"
#include "update/update_engine.h"
#include "update/update_reporter.h"
#include "version/version_list.h"

namespace update {

class ReleaseCheck {
 public:
  ReleaseCheck(const UpdateOptions& options, Staging* staging, ReleaseFetcher* fetcher,
               UpdateReporter* reporter, UpdateOutcome* outcome)
      : options_(options),
        staging_(staging),
        fetcher_(fetcher),
        reporter_(reporter),
        outcome_(outcome) {}
  ReleaseCheck(const ReleaseCheck&) = delete;
  ReleaseCheck& operator=(const ReleaseCheck&) = delete;

  // Reads the release's Manifest; with a trusted key, checks its signature
  // and its number against the installed release's. 0 or 1.
  int VerifyRelease();
  // Fetches the release's version list and checks it against its key file.
  // 0 or 1.
  int FetchRelease(VersionRecordList* release);
  // With a verified Manifest: it and the list name the same files. 0 or 1.
  int CheckListAgainstManifest(const VersionRecordList& release);
  // A staged file has the content the verified Manifest gives for its path.
  bool MatchesManifest(const VersionRecord& record, std::string* error) const;

  // The release's Manifest was signed by the trusted key.
  bool verified() const { return verified_; }
  uint64_t sequence() const { return manifest_.sequence; }
  // The Manifest's files by path; empty where the release has none.
  const std::map<std::string, const ManifestFile*>& listed() const { return listed_; }
  // The Manifest's SHA-256 (empty where it could not be read) and size,
  // which the patch index names.
  const std::string& manifest_sha256() const { return manifest_sha256_; }
  uint64_t manifest_size() const { return manifest_size_; }

 private:
  int Fail(UpdateFailure kind, const std::string& text) {
    reporter_->Problem(text);
    outcome_->failure = kind;
    return 1;
  }
  // After a fetch of the release's first files failed: true when the
  // source answers that it has neither a Manifest nor a version list, so
  // that a mistyped address is told as such, not as a signing problem.
  bool NothingThere();
  int FailNothingThere(const std::string& error);

  const UpdateOptions& options_;
  Staging* staging_;
  ReleaseFetcher* fetcher_;
  UpdateReporter* reporter_;
  UpdateOutcome* outcome_;
  // The release's signed manifest, once its signature held with the trusted
  // key; every file is then checked against it as well as against its key.
  bool verified_ = false;
  ReleaseManifest manifest_;
  std::map<std::string, const ManifestFile*> listed_;  // manifest_'s files by path
  std::string manifest_sha256_;
  uint64_t manifest_size_ = 0;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_RELEASE_CHECK_H

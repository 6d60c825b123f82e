#include "update/release_check.h"

#include <cstdio>

#include "platform/platform.h"
#include "platform/bounded_file.h"
#include "signing/key_files.h"
#include "signing/manifest_check.h"
#include "signing/sha256.h"
#include "signing/trusted_keys.h"
#include "update/install_paths.h"
#include "update/release_state.h"
#include "update/staging_names.h"
#include "update/update_plan.h"
#include "util/scoped_file.h"

namespace update {

namespace {

// Bounds on the small files every run fetches first. A list of a million
// files compresses to far less.
constexpr uint64_t kMaxListDownload = uint64_t{1} << 30;
constexpr uint64_t kMaxKeyFileDownload = 64 * 1024;
// What they may decode to, whoever signed them: a million lines of the
// longest path, and one key. A gzip bomb would otherwise fill the disk with
// a thousand times its download before the list is found wrong.
constexpr uint64_t kMaxListDecoded = uint64_t{1} << 30;
constexpr uint64_t kMaxKeyFileDecoded = 64 * 1024;
constexpr uint64_t kMaxSignatureDownload = 4096;

}  // namespace

// With a trusted key, nothing of the release is fetched before its manifest
// is found signed by that key, and a release numbered below the installed
// one is refused.
int ReleaseCheck::VerifyRelease() {
  std::string error;
  if (options_.trusted_key.empty()) {
    reporter_->Note("the release is not verified: no trusted key (" + std::string(kTrustedKeyName) +
                    " in the install directory, or --trust FILE)");
    // Its Manifest, where there is one, still says which new files are
    // programs; it vouches for nothing else here.
    std::string text;
    if (staging_->FetchRaw(fetcher_, {kManifestName}, kManifestSizeLimit, staging_names::kManifest,
                           &error) &&
        plat::ReadBoundedFile(staging_->PathOf(staging_names::kManifest).c_str(),
                              kManifestSizeLimit, &text) &&
        ParseManifest(text, &manifest_, &error)) {
      for (const ManifestFile& file : manifest_.files) listed_[file.path] = &file;
      Sha256OfFile(staging_->PathOf(staging_names::kManifest).c_str(), &manifest_sha256_,
                   &manifest_size_);
      outcome_->has_sequence = true;
      outcome_->sequence = manifest_.sequence;
    }
    staging_->Discard(staging_names::kManifest);
    return 0;
  }
  std::vector<Ed25519PublicKey> trusted;
  if (!ReadTrustedKeysFile(options_.trusted_key.c_str(), &trusted)) {
    // A key that is there in any form but cannot be read never lets a
    // release in unverified.
    return Fail(UpdateFailure::kRefused, "cannot read the trusted key '" + options_.trusted_key +
                                             "' as an Ed25519 public key; nothing was installed");
  }
  if (!staging_->FetchRaw(fetcher_, {kManifestName}, kManifestSizeLimit, staging_names::kManifest,
                          &error)) {
    if (NothingThere()) return FailNothingThere(error);
    return Fail(UpdateFailure::kNetwork,
                "the release is not signed: cannot fetch its Manifest from '" +
                    fetcher_->Location() + "': " + error + "; nothing was installed");
  }
  if (!staging_->FetchRaw(fetcher_, {kManifestSignatureName}, kMaxSignatureDownload,
                          staging_names::kSignature, &error)) {
    staging_->Discard(staging_names::kManifest);
    return Fail(UpdateFailure::kNetwork,
                "the release is not signed: cannot fetch its signature Manifest.sig from '" +
                    fetcher_->Location() + "': " + error + "; nothing was installed");
  }
  ManifestCheck result = CheckSignedManifest(staging_->PathOf(staging_names::kManifest),
                                             staging_->PathOf(staging_names::kSignature),
                                             options_.trusted_key, &manifest_, &error);
  if (result == ManifestCheck::kVerified &&
      !Sha256OfFile(staging_->PathOf(staging_names::kManifest).c_str(), &manifest_sha256_,
                    &manifest_size_)) {
    manifest_sha256_.clear();
  }
  staging_->Discard(staging_names::kManifest);
  staging_->Discard(staging_names::kSignature);
  if (result != ManifestCheck::kVerified) {
    std::string detail =
        result == ManifestCheck::kBadManifest && !error.empty() ? " (" + error + ")"
        : result == ManifestCheck::kBadPublicKey                ? ": '" + options_.trusted_key + "'"
                                                                : "";
    return Fail(UpdateFailure::kRefused, std::string("refusing the release: ") +
                                             DescribeManifestCheck(result) + detail +
                                             "; nothing was installed");
  }
  if (options_.expected_sequence != 0 && manifest_.sequence != options_.expected_sequence) {
    return Fail(UpdateFailure::kRefused, "refusing release " + std::to_string(manifest_.sequence) +
                                             ": the channel names release " +
                                             std::to_string(options_.expected_sequence) +
                                             "; nothing was installed");
  }
  uint64_t installed = 0;
  switch (ReadReleaseState(options_.install_dir, &installed)) {
    case ReleaseState::kDamaged:
      return Fail(UpdateFailure::kDisk,
                  "cannot read the installed release's number in '" +
                      JoinInstallPath(options_.install_dir, {kReleaseStateName}) +
                      "'; nothing was installed");
    case ReleaseState::kRead:
      if (manifest_.sequence < installed && !options_.allow_downgrade &&
          manifest_.sequence != options_.expected_sequence) {
        return Fail(UpdateFailure::kRefused,
                    "refusing release " + std::to_string(manifest_.sequence) +
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

bool ReleaseCheck::NothingThere() {
  return fetcher_->IsMissing({kClientListName}) && fetcher_->IsMissing({kManifestName});
}

int ReleaseCheck::FailNothingThere(const std::string& error) {
  return Fail(UpdateFailure::kNetwork, "no release found at '" + fetcher_->Location() +
                                           "': it has no VerComp.dat and no Manifest (" + error +
                                           "); nothing was installed");
}

// The signed list and the manifest must name the same files with the same
// compressed sizes: a file the manifest does not vouch for is not taken.
int ReleaseCheck::CheckListAgainstManifest(const VersionRecordList& release) {
  if (!verified_) return 0;
  for (const VersionRecord& record : release) {
    auto found = listed_.find(record.path);
    if (found == listed_.end() || found->second->gzipSize != ListedSize(record)) {
      return Fail(UpdateFailure::kRefused,
                  "refusing the release: '" + record.path +
                      "' is not listed so in the signed Manifest; nothing was installed");
    }
  }
  if (release.size() != manifest_.files.size()) {
    return Fail(UpdateFailure::kRefused,
                "refusing the release: the signed Manifest lists " +
                    std::to_string(manifest_.files.size()) + " files, VerComp.dat " +
                    std::to_string(release.size()) + "; nothing was installed");
  }
  return 0;
}

// A staged file has the content the manifest gives for its path.
bool ReleaseCheck::MatchesManifest(const VersionRecord& record, std::string* error) const {
  auto found = listed_.find(record.path);
  if (found == listed_.end()) {
    *error = "the signed Manifest does not list it";
    return false;
  }
  std::string detail;
  // A file fetched in this run was digested on its way in; one staged
  // otherwise is read.
  std::string sha256;
  uint64_t size = 0;
  if (staging_->StagedSha256(record.key, &sha256, &size)) {
    if (sha256 == found->second->sha256 && size == found->second->size) return true;
    detail = staging_->CheckedPath(record.key) + " has SHA-256 " + sha256 + " and " +
             std::to_string(size) + " bytes; the manifest lists " + found->second->sha256 +
             " and " + std::to_string(found->second->size);
  } else if (MatchesListedFile(staging_->CheckedPath(record.key), found->second->sha256,
                               found->second->size, &detail)) {
    return true;
  }
  *error = "it does not match the signed Manifest: " + detail;
  return false;
}

int ReleaseCheck::FetchRelease(VersionRecordList* release) {
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
  if (!staging_->FetchDecoded(
          fetcher_, {kClientListName}, list_bound, kMaxListDecoded, staging_names::kReleaseList,
          &list_key, &error,
          listed_as(manifest_.verCompSha256, manifest_.verCompSize, kClientListName))) {
    if (!verified_ && NothingThere()) return FailNothingThere(error);
    return Fail(UpdateFailure::kNetwork,
                "cannot fetch the version list from '" + fetcher_->Location() + "': " + error);
  }
  std::string unused;
  if (!staging_->FetchDecoded(fetcher_, {kKeyFileName}, key_bound, kMaxKeyFileDecoded,
                              staging_names::kReleaseKey, &unused, &error,
                              listed_as(manifest_.verSha256, manifest_.verSize, kKeyFileName))) {
    return Fail(UpdateFailure::kNetwork,
                "cannot fetch the key file Ver from '" + fetcher_->Location() + "': " + error);
  }
  // The list is taken only with its key file, so that a half-uploaded
  // release is not taken for a whole one.
  std::string expected;
  {
    util::ScopedFile ver(
        plat::OpenFile(staging_->PathOf(staging_names::kReleaseKey).c_str(), "rb"));
    char text[32];
    if (ver && std::fread(text, 1, sizeof text, ver.get()) == sizeof text) {
      expected.assign(text, sizeof text);
    }
  }
  staging_->Discard(staging_names::kReleaseKey);
  if (expected != list_key) {
    staging_->Discard(staging_names::kReleaseList);
    return Fail(UpdateFailure::kRefused,
                "the release's VerComp.dat does not match its key file Ver; the release is "
                "incomplete or damaged, nothing was installed");
  }
  PathIndex index;
  bool read =
      ReadVersionList(staging_->PathOf(staging_names::kReleaseList).c_str(), release, &index);
  staging_->Discard(staging_names::kReleaseList);
  if (!read) return Fail(UpdateFailure::kRefused, "cannot read the release's version list");
  return 0;
}

}  // namespace update

#include "update/delta_fetch.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "delta/patch_apply.h"
#include "fileio/file_key.h"
#include "fileio/md5.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "platform/bounded_file.h"
#include "protocol/manifest_text.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/manifest_check.h"
#include "signing/sha256.h"
#include "signing/trusted_keys.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/staged_transfer.h"
#include "update/staging_names.h"
#include "util/scoped_file.h"

namespace update {

namespace {

constexpr uint64_t kMaxSignatureDownload = 4096;
constexpr size_t kReadSize = 1 << 16;

// The key and SHA-256 of an open installed file, read once.
bool DigestsOf(FILE* file, std::string* key, std::string* sha256, uint64_t* size) {
  Md5State md5;
  Md5Init(&md5);
  Sha256 sha;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
  uint64_t total = 0;
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kReadSize, file);
    if (got == 0) break;
    Md5Update(&md5, buffer.get(), got);
    sha.Update(buffer.get(), got);
    total += got;
  }
  if (std::ferror(file) || !sha.ok()) return false;
  unsigned char md5_digest[16];
  unsigned char sha_digest[kSha256Size];
  Md5Final(&md5, md5_digest);
  sha.Final(sha_digest);
  *key = FileKeyOfDigest(md5_digest);
  *sha256 = Sha256Hex(sha_digest);
  *size = total;
  return true;
}

class FilePatchInput : public delta::PatchInput {
 public:
  explicit FilePatchInput(FILE* file) : file_(file) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got) override {
    *got = std::fread(buffer, 1, size, file_);
    return !std::ferror(file_);
  }

 private:
  FILE* file_;
};

// The installed file, read where the patch says: by seeking, so that memory
// stays the same whatever its size.
class FileOldInput : public delta::OldInput {
 public:
  FileOldInput(FILE* file, uint64_t size) : file_(file), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) override {
    if (offset != position_ && !plat::SeekFile(file_, offset)) return false;
    size_t got = std::fread(buffer, 1, size, file_);
    position_ = offset + got;
    return got == size;
  }

 private:
  FILE* file_;
  uint64_t size_;
  uint64_t position_ = 0;
};

// The result, written in order and keyed on the way: it is never read back.
class CheckedOutput : public delta::NewOutput {
 public:
  explicit CheckedOutput(FILE* file) : file_(file) { Md5Init(&md5_); }
  bool Write(const uint8_t* data, size_t size) override {
    Md5Update(&md5_, data, size);
    sha_.Update(data, size);
    size_ += size;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    if (write_error_ == 0) write_error_ = plat::LastSystemError();
    return false;
  }
  void Finish(std::string* key, std::string* sha256) {
    unsigned char md5_digest[16];
    unsigned char sha_digest[kSha256Size];
    Md5Final(&md5_, md5_digest);
    sha_.Final(sha_digest);
    *key = FileKeyOfDigest(md5_digest);
    *sha256 = Sha256Hex(sha_digest);
  }
  uint64_t size() const { return size_; }
  // The system's reason a write failed; 0 when none did.
  int write_error() const { return write_error_; }

 private:
  FILE* file_;
  int write_error_ = 0;
  Md5State md5_;
  Sha256 sha_;
  uint64_t size_ = 0;
};

}  // namespace

void DeltaFetch::LoadIndex(const std::string& manifestSha256, uint64_t manifestSize,
                           const std::string& trustedKey) {
  std::string error;
  std::string text;
  if (manifestSha256.empty() ||
      !staging_->FetchRaw(fetcher_, {kPatchIndexName}, kPatchIndexSizeLimit,
                          staging_names::kPatchIndex, &error) ||
      !plat::ReadBoundedFile(staging_->PathOf(staging_names::kPatchIndex).c_str(),
                             kPatchIndexSizeLimit, &text)) {
    // A release without patches, or one built before there were any.
    staging_->Discard(staging_names::kPatchIndex);
    return;
  }
  staging_->Discard(staging_names::kPatchIndex);
  if (!trustedKey.empty()) {
    // Any key the Manifest may be signed with signs the index too: during a
    // key rotation the trust file holds the old key and the new one.
    std::vector<Ed25519PublicKey> keys;
    Ed25519Signature signature;
    bool fetched = staging_->FetchRaw(fetcher_, {kPatchIndexSignatureName}, kMaxSignatureDownload,
                                      staging_names::kPatchIndexSignature, &error);
    bool signed_ok =
        fetched && ReadTrustedKeysFile(trustedKey.c_str(), &keys) &&
        ReadSignatureFile(staging_->PathOf(staging_names::kPatchIndexSignature).c_str(),
                          &signature) &&
        VerifyByAnyKey(keys, text, signature);
    staging_->Discard(staging_names::kPatchIndexSignature);
    if (!signed_ok) {
      reporter_->Problem(
          "the release's patches are not signed by the trusted key; fetching "
          "whole files");
      return;
    }
  }
  PatchIndex index;
  if (!ParsePatchIndex(text, &index, &error)) {
    reporter_->Problem("the release's patch index cannot be read (" + error +
                       "); fetching whole files");
    return;
  }
  if (index.manifestSha256 != manifestSha256 || index.manifestSize != manifestSize) {
    reporter_->Problem(
        "the release's patch index belongs to another Manifest; fetching whole "
        "files");
    return;
  }
  index_ = std::move(index);
  loaded_ = true;
}

void DeltaFetch::Choose(const UpdatePlan& plan,
                        const std::map<std::string, const ManifestFile*>& files) {
  if (!loaded_ || index_.patches.empty()) return;
  std::map<std::string, std::vector<const PatchEntry*>> by_path;
  for (const PatchEntry& entry : index_.patches) by_path[entry.resultPath].push_back(&entry);
  for (const PlannedFile& file : plan.fetch) {
    auto offered = by_path.find(file.record.path);
    auto listed = files.find(file.record.path);
    if (offered == by_path.end() || listed == files.end() || choices_.count(file.record.key) ||
        !manifest_text::IsHexKey(file.record.key)) {
      continue;
    }
    // What is installed now, whatever the client list says of it: a file
    // edited since it was installed matches no patch and is fetched whole.
    if (plat::IsLinkEntry(file.target)) continue;
    util::ScopedFile installed(plat::OpenFile(file.target.c_str(), "rb"));
    if (!installed) continue;
    // Its length first: reading a large file whole to key it takes as long
    // as the check itself should, and a length no patch starts from settles
    // it without a read.
    int64_t length = plat::FileLength(installed.get());
    bool size_offered = false;
    for (const PatchEntry* entry : offered->second) {
      size_offered =
          size_offered || (length >= 0 && entry->oldSize == static_cast<uint64_t>(length));
    }
    if (!size_offered) continue;
    std::string key;
    std::string sha256;
    uint64_t size = 0;
    ++keyed_files_;
    if (!DigestsOf(installed.get(), &key, &sha256, &size)) continue;
    for (const PatchEntry* entry : offered->second) {
      if (entry->oldKey != key || entry->oldSha256 != sha256 || entry->oldSize != size) continue;
      ChosenPatch choice;
      choice.file = &file;
      choice.entry = *entry;
      choice.resultSize = listed->second->size;
      choice.resultSha256 = listed->second->sha256;
      patch_bytes_ += entry->patchSize;
      whole_bytes_ += ListedSize(file.record);
      choices_.emplace(file.record.key, std::move(choice));
      break;
    }
  }
}

const ChosenPatch* DeltaFetch::ChoiceFor(const std::string& key) const {
  auto found = choices_.find(key);
  return found == choices_.end() ? nullptr : &found->second;
}

bool DeltaFetch::Stage(const std::string& key, const FetchProgress& progress, std::string* warning,
                       ReleaseFetcher* fetcher, std::string* disk_error) {
  warning->clear();
  if (disk_error != nullptr) disk_error->clear();
  const ChosenPatch* choice = ChoiceFor(key);
  if (choice == nullptr) return false;
  std::string error;
  bool disk = false;
  if (Apply(*choice, key, progress, fetcher != nullptr ? fetcher : fetcher_, &error, &disk)) {
    return true;
  }
  if (disk && disk_error != nullptr) {
    // The whole file would meet the same full or read-only disk.
    *disk_error = error;
    return false;
  }
  *warning = "the patch for '" + choice->file->record.path + "' failed (" + error +
             "); fetching the whole file";
  return false;
}

bool DeltaFetch::Apply(const ChosenPatch& choice, const std::string& key,
                       const FetchProgress& progress, ReleaseFetcher* fetcher, std::string* error,
                       bool* disk) {
  std::vector<std::string> parts;
  std::string reason;
  if (!SplitReleasePath(choice.entry.patchPath, &parts, &reason)) {
    *error = "its path " + reason;
    return false;
  }
  // The key's names are made here: a transfer of it after a failed patch
  // clears them as it would an earlier run's.
  staging_->ClaimFresh(key);
  // Through the same transfer as a whole file: its bytes count as they
  // arrive, and one cut off (a lost connection, a cancel) is kept for the
  // next run to go on from.
  const std::string patch_name = staging_names::PatchName(key);
  const std::string patch_path = staging_->PathOf(staging_names::PartName(patch_name));
  std::string unused_key;
  bool resumed = false;
  StagedTransfer::End end;
  {
    StagedTransfer transfer(*staging_, patch_name, choice.entry.patchSize, progress, false, false,
                            true);
    end = transfer.Run(fetcher, parts, true, &unused_key, error);
    resumed = transfer.resumed();
    *disk = transfer.disk_failed();
  }
  // Checked before it is read as a patch.
  std::string detail;
  bool listed =
      end == StagedTransfer::End::kDecoded &&
      MatchesListedFile(patch_path, choice.entry.patchSha256, choice.entry.patchSize, &detail);
  if (!listed && resumed && !*disk) {
    // What an earlier run kept was no start of this patch: once from the
    // start.
    staging_->Discard(staging_names::PartName(patch_name));
    StagedTransfer transfer(*staging_, patch_name, choice.entry.patchSize, progress, false, false,
                            true);
    end = transfer.Run(fetcher, parts, false, &unused_key, error);
    *disk = transfer.disk_failed();
    listed =
        end == StagedTransfer::End::kDecoded &&
        MatchesListedFile(patch_path, choice.entry.patchSha256, choice.entry.patchSize, &detail);
  }
  if (end != StagedTransfer::End::kDecoded) return false;
  if (!listed) {
    staging_->Discard(staging_names::PartName(patch_name));
    *error = "the patch is not the one listed: " + detail;
    return false;
  }
  const std::string out_name = staging_names::PatchedName(key);
  const std::string out_path = staging_->PathOf(out_name);
  bool applied = false;
  std::string found_key;
  std::string found_sha256;
  uint64_t written = 0;
  {
    util::ScopedFile patch(plat::OpenFile(patch_path.c_str(), "rb"));
    util::ScopedFile old(plat::OpenFile(choice.file->target.c_str(), "rb"));
    if (!patch || !old) {
      *error = "cannot read '" + (patch ? choice.file->target : patch_path) +
               "': " + plat::LastErrorText();
      staging_->Discard(staging_names::PartName(patch_name));
      return false;
    }
    int64_t old_size = plat::FileLength(old.get());
    staging_->Discard(out_name);
    FaultPoint();
    util::ScopedFile out(plat::CreateNewFile(out_path, error));
    if (!out) {
      *error = "cannot create '" + out_path + "': " + *error;
      *disk = true;
      staging_->Discard(staging_names::PartName(patch_name));
      return false;
    }
    FilePatchInput patch_input(patch.get());
    FileOldInput old_input(old.get(), old_size < 0 ? 0 : static_cast<uint64_t>(old_size));
    CheckedOutput output(out.get());
    applied = old_size >= 0 &&
              delta::ApplyPatch(&patch_input, &old_input, choice.resultSize, &output, error);
    output.Finish(&found_key, &found_sha256);
    written = output.size();
    bool closed = std::fclose(out.release()) == 0;
    if (output.write_error() != 0 || (!closed && applied)) {
      // The disk refused the result: not the patch's fault.
      applied = false;
      *disk = true;
      *error = "cannot write '" + out_path + "': " +
               plat::SystemErrorText(output.write_error() != 0 ? output.write_error()
                                                               : plat::LastSystemError());
    }
  }
  staging_->Discard(staging_names::PartName(patch_name));
  if (applied &&
      (found_key != key || found_sha256 != choice.resultSha256 || written != choice.resultSize)) {
    applied = false;
    *error = "the result has the key " + found_key + ", not the key " + key + " the release lists";
  }
  if (!applied) {
    staging_->Discard(out_name);
    return false;
  }
  FaultPoint();
  if (!plat::ReplaceFileAtomically(out_path.c_str(), staging_->CheckedPath(key).c_str())) {
    *error = "cannot keep '" + out_path + "': " + plat::LastErrorText();
    staging_->Discard(out_name);
    return false;
  }
  return true;
}

}  // namespace update

#include "update/staging.h"

#include <cstdio>
#include <memory>
#include <new>

#include "fileio/gzip_decompress.h"
#include "fileio/io_util.h"
#include "fileio/file_key.h"
#include "fileio/md5.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "protocol/manifest_text.h"
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/staged_transfer.h"
#include "update/staging_names.h"
#include "update/stream_keyer.h"
#include "util/scoped_file.h"

namespace update {

namespace {

using FilePtr = util::ScopedFile;

}  // namespace

void RemoveStagedEntry(const std::string& path) {
  // Nearly every name cleared before a transfer is absent: one look at the
  // name itself settles that, without following it.
  if (!plat::NameIsTaken(path)) return;
  bool link = plat::IsLinkEntry(path);
  FaultPoint();
  if (plat::RemoveFile(path.c_str())) return;
  // A junction or a link to a folder goes as a folder does; a protected
  // file is opened up first (never through a link).
  if (link) {
    plat::RemoveEmptyDirectory(path.c_str());
  } else {
    plat::SetAttributesNormal(path.c_str());
    plat::RemoveFile(path.c_str());
  }
}

namespace {

// The most bytes the gzip file in may decode to: what its trailer allows, or
// its own length when it is not gzip (it is then taken as it is).
uint64_t DecodedLimit(FILE* in) {
  int64_t length = plat::FileLength(in);
  if (length < 0) return 0;
  unsigned char head[2] = {};
  unsigned char tail[4] = {};
  bool gzip = length >= 18 && std::fread(head, 1, 2, in) == 2 && head[0] == 0x1f && head[1] == 0x8b;
  if (!gzip) {
    std::rewind(in);
    return static_cast<uint64_t>(length);
  }
  if (std::fseek(in, -4, SEEK_END) != 0 || std::fread(tail, 1, 4, in) != 4) return 0;
  std::rewind(in);
  uint64_t trailer = static_cast<uint64_t>(tail[0]) | (static_cast<uint64_t>(tail[1]) << 8) |
                     (static_cast<uint64_t>(tail[2]) << 16) |
                     (static_cast<uint64_t>(tail[3]) << 24);
  uint64_t wraps = static_cast<uint64_t>(length) * kMaxDeflateRatio >> 32;
  return trailer + (wraps << 32);
}

}  // namespace

std::string DecodeFailure(DecompressStatus status, const std::string& from, const std::string& to) {
  switch (status) {
    case DecompressStatus::kOk:
      break;
    case DecompressStatus::kCorrupt:
      return "the download is damaged or incomplete";
    case DecompressStatus::kReadError:
      return "cannot read '" + from + "'";
    case DecompressStatus::kWriteError:
      return "cannot write '" + to + "': " + plat::LastErrorText();
    case DecompressStatus::kTooLong:
    case DecompressStatus::kBeyondTrailer:
      return "the download expands beyond the length its gzip trailer gives";
  }
  return std::string();
}

Staging::Staging(const std::string& installDir)
    : install_dir_(installDir), dir_(JoinInstallPath(installDir, {kStagingName})) {}

std::string Staging::PathOf(const std::string& name) const { return JoinInstallPath(dir_, {name}); }

bool Staging::Prepare(std::string* error) {
  uint32_t attributes = 0;
  bool is_link = plat::IsLinkEntry(dir_);
  if (is_link || (plat::GetAttributes(dir_.c_str(), &attributes) &&
                  (attributes & plat::kAttrDirectory) == 0)) {
    RemoveStagedEntry(dir_);
  }
  if (!plat::PathExists(dir_.c_str()) && !plat::IsLinkEntry(dir_)) {
    FaultPoint();
    if (plat::MakeOneDirectory(dir_.c_str()) == plat::MakeDirResult::kFailed) {
      *error = plat::LastErrorText();
      return false;
    }
  }
  if (plat::IsLinkEntry(dir_)) {
    *error = "'" + dir_ + "' is a link that cannot be removed";
    return false;
  }
  // Probe that files can be made here: a read-only install folder is found
  // before anything else happens.
  std::string probe = PathOf(staging_names::kProbe);
  Discard(staging_names::kProbe);
  FaultPoint();
  FILE* file = plat::CreateNewFile(probe, error);
  if (file == nullptr) return false;
  std::fclose(file);
  plat::RemoveFile(probe.c_str());
  return true;
}

bool Staging::HasChecked(const std::string& key) const {
  {
    std::lock_guard<std::mutex> hold(keys_mutex_);
    if (surveyed_ && keys_with_entries_.count(key) == 0) return false;
  }
  std::string found;
  // Asked of every file of a first install, where none is staged: an absent
  // name is told by one look, without trying to open it.
  return manifest_text::IsHexKey(key) && plat::NameIsTaken(CheckedPath(key)) &&
         KeyOfInstalledFile(CheckedPath(key), &found) && found == key;
}

void Staging::Survey() {
  std::vector<plat::DirEntry> entries;
  std::lock_guard<std::mutex> hold(keys_mutex_);
  // A folder that cannot be listed leaves every key to be looked at.
  if (plat::IsLinkEntry(dir_) || !plat::ListDirectory(dir_, &entries)) return;
  keys_with_entries_.clear();
  for (const plat::DirEntry& entry : entries) {
    // Every name of a key's transfer begins with the key; the patch names
    // carry it after a prefix. Any key-long run of name is taken, so that
    // no entry of a key is ever missed.
    const std::string& name = entry.name;
    for (size_t at = 0; at + 32 <= name.size(); ++at) {
      std::string key = name.substr(at, 32);
      if (manifest_text::IsHexKey(key)) keys_with_entries_.insert(key);
    }
  }
  surveyed_ = true;
}

bool Staging::ClaimFresh(const std::string& key) {
  std::lock_guard<std::mutex> hold(keys_mutex_);
  return keys_with_entries_.insert(key).second && surveyed_;
}

void Staging::Discard(const std::string& name) const { RemoveStagedEntry(PathOf(name)); }

void Staging::RemoveAll() const {
  if (plat::IsLinkEntry(dir_)) {
    RemoveStagedEntry(dir_);
    return;
  }
  if (!plat::PathExists(dir_.c_str())) return;
  FaultPoint();
  IOUtil_RemoveDirTree(dir_.c_str());
}

bool Staging::Download(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                       uint64_t maxFetched, const std::string& path, std::string* error) const {
  uint64_t received = 0;
  RemoveStagedEntry(path);
  FaultPoint();
  FilePtr out(plat::CreateNewFile(path, error));
  if (!out) {
    *error = "cannot create '" + path + "': " + *error;
    return false;
  }
  bool too_long = false;
  bool write_failed = false;
  FetchSink sink = [&](const char* data, size_t size) {
    if (size > maxFetched - received) {
      too_long = true;
      return false;
    }
    received += size;
    if (std::fwrite(data, 1, size, out.get()) != size) {
      write_failed = true;
      return false;
    }
    return true;
  };
  std::string fetch_error;
  bool fetched = fetcher->Fetch(parts, sink, &fetch_error);
  bool closed = std::fclose(out.release()) == 0;
  if (too_long) {
    *error = "the download is longer than the " + std::to_string(maxFetched) +
             " bytes the release lists for it";
  } else if (write_failed || (fetched && !closed)) {
    *error = "cannot write '" + path + "': " + plat::LastErrorText();
  } else if (!fetched) {
    *error = fetch_error;
  } else {
    return true;
  }
  RemoveStagedEntry(path);
  return false;
}

bool Staging::Decode(const std::string& from, const std::string& to, uint64_t maxDecoded,
                     std::string* key, std::string* error) const {
  FilePtr in(plat::OpenRegularFile(from.c_str(), false));
  if (!in) {
    *error = "cannot read '" + from + "'";
    return false;
  }
  uint64_t limit = DecodedLimit(in.get());
  const bool over_bound = limit > maxDecoded;
  if (over_bound) limit = maxDecoded;
  RemoveStagedEntry(to);
  FaultPoint();
  FilePtr out(plat::CreateNewFile(to, error));
  if (!out) {
    *error = "cannot create '" + to + "': " + *error;
    return false;
  }
  Md5State state;
  Md5Init(&state);
  DecompressSink sink = [&](const unsigned char* data, size_t length) {
    Md5Update(&state, data, length);
    return std::fwrite(data, 1, length, out.get()) == length;
  };
  DecompressStatus status = DecompressStreamTo(in.get(), sink, limit);
  bool closed = std::fclose(out.release()) == 0;
  if (status == DecompressStatus::kOk && !closed) status = DecompressStatus::kWriteError;
  if (status == DecompressStatus::kOk) {
    unsigned char digest[16];
    Md5Final(&state, digest);
    *key = FileKeyOfDigest(digest);
    return true;
  }
  *error = over_bound && status == DecompressStatus::kTooLong
               ? "the download expands beyond the " + std::to_string(maxDecoded) +
                     " bytes such a file may have"
               : DecodeFailure(status, from, to);
  RemoveStagedEntry(to);
  return false;
}

bool Staging::FetchDecoded(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                           uint64_t maxFetched, uint64_t maxDecoded, const std::string& name,
                           std::string* key, std::string* error, const DownloadCheck& check) {
  std::string download = PathOf(staging_names::DownloadName(name));
  if (!Download(fetcher, parts, maxFetched, download, error)) return false;
  if (check && !check(download, error)) {
    RemoveStagedEntry(download);
    return false;
  }
  std::string target = PathOf(name);
  bool decoded = Decode(download, target, maxDecoded, key, error);
  RemoveStagedEntry(download);
  return decoded;
}

bool Staging::FetchRaw(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                       uint64_t maxFetched, const std::string& name, std::string* error) {
  return Download(fetcher, parts, maxFetched, PathOf(name), error);
}

bool Staging::FetchChecked(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                           const std::string& key, uint64_t maxFetched,
                           const FetchProgress& progress, std::string* error) {
  if (!manifest_text::IsHexKey(key)) {
    *error = "the release lists it with the malformed key '" + key + "'";
    return false;
  }
  std::string part = PathOf(staging_names::PartName(key));
  std::string found;
  StagedTransfer::End end;
  bool resumed = false;
  std::string sha256;
  uint64_t size = 0;
  const bool fresh = ClaimFresh(key);
  bool held = false;
  {
    StagedTransfer transfer(*this, key, maxFetched, progress, make_sha256_, fresh);
    end = transfer.Run(fetcher, parts, true, &found, error);
    resumed = transfer.resumed();
    sha256 = transfer.sha256();
    size = transfer.size();
    held = end == StagedTransfer::End::kDecoded && transfer.held();
    // Keyed before it is written: only the file the release lists is made.
    if (held && found == key && !transfer.KeepHeld(CheckedPath(key), error)) return false;
  }
  if (resumed && (end == StagedTransfer::End::kUndecodable ||
                  (end == StagedTransfer::End::kDecoded && found != key))) {
    // What an earlier run left was no start to go on from: damaged, or the
    // beginning of another compression of the same file (a release rebuilt
    // since). One fetch from the start settles it.
    RemoveStagedEntry(part);
    StagedTransfer transfer(*this, key, maxFetched, progress, make_sha256_);
    end = transfer.Run(fetcher, parts, false, &found, error);
    sha256 = transfer.sha256();
    size = transfer.size();
  }
  if (end != StagedTransfer::End::kDecoded) return false;
  if (found != key) {
    if (!held) RemoveStagedEntry(part);
    *error = "the download has the key " + found + ", not the key " + key +
             " the release lists; the installed file was left as it was";
    return false;
  }
  if (!held) {
    if (!fresh) RemoveStagedEntry(CheckedPath(key));
    FaultPoint();
    bool kept = plat::ReplaceFileAtomically(part.c_str(), CheckedPath(key).c_str());
    if (!kept && fresh) {
      // Something took the name since the folder was listed (a protected
      // file, which is not replaced as it is): cleared as any other.
      RemoveStagedEntry(CheckedPath(key));
      FaultPoint();
      kept = plat::ReplaceFileAtomically(part.c_str(), CheckedPath(key).c_str());
    }
    if (!kept) {
      *error = "cannot keep '" + CheckedPath(key) + "': " + plat::LastErrorText();
      RemoveStagedEntry(part);
      return false;
    }
  }
  std::lock_guard<std::mutex> hold(digests_mutex_);
  if (sha256.empty()) {
    digests_.erase(key);
  } else {
    digests_[key] = std::make_pair(sha256, size);
  }
  return true;
}

bool Staging::StagedSha256(const std::string& key, std::string* sha256, uint64_t* size) const {
  std::lock_guard<std::mutex> hold(digests_mutex_);
  auto found = digests_.find(key);
  if (found == digests_.end()) return false;
  *sha256 = found->second.first;
  *size = found->second.second;
  return true;
}

}  // namespace update

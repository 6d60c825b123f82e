// The staging folder: every file of an update is fetched, decoded and
// checked against its key here, inside the install folder (so that placing
// it is a rename on one file system), before any installed file is touched.
// Checked files are kept under their key, so a run that was stopped leaves
// its work for the next one.
#ifndef FILEDIST_UPDATE_STAGING_H
#define FILEDIST_UPDATE_STAGING_H

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fileio/gzip_decompress.h"
#include "update/release_fetcher.h"

namespace update {

// Told the bytes of the current file received so far.
using FetchProgress = std::function<void(uint64_t received)>;

// Looks at a whole download before anything is made of it; false, with
// *error set, refuses it.
using DownloadCheck = std::function<bool(const std::string& path, std::string* error)>;

class Staging {
 public:
  explicit Staging(const std::string& installDir);

  // Makes the folder, replacing anything but a folder (a planted link
  // included) at its name. False with *error holding the system's text.
  bool Prepare(std::string* error);

  const std::string& dir() const { return dir_; }
  std::string PathOf(const std::string& name) const;

  // Where the checked file with this key lies (whether or not it does).
  std::string CheckedPath(const std::string& key) const { return PathOf(key); }

  // True when a file for key was staged and still has that key.
  bool HasChecked(const std::string& key) const;

  // Lists the folder once, before the files are fetched: the keys that name
  // any entry there (a checked file, or what a stopped transfer or patch
  // left). A key found in none is fresh: its transfer makes its names
  // without first clearing them, which saves most of the look-ups of a
  // first install. Until this is called, every key is taken as having
  // entries.
  void Survey();

  // True once for a fresh key: from then on the key counts as having
  // entries, as its transfer or patch makes some. Any thread may ask.
  bool ClaimFresh(const std::string& key);

  // Fetches the release file parts, taking at most maxFetched bytes,
  // decodes it as it arrives (no more than deflate allows for its size) and
  // keeps it as CheckedPath(key) if its key is key. False with *error saying
  // why; the staging folder then holds nothing new, but for the bytes of a
  // transfer that was cut off, which the next call goes on from.
  bool FetchChecked(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                    const std::string& key, uint64_t maxFetched, const FetchProgress& progress,
                    std::string* error);

  // From now on FetchChecked makes each file's SHA-256 while it arrives
  // (for a signed release, whose Manifest gives it), so that the check
  // against the Manifest need not read the file again.
  void MakeSha256(bool make) { make_sha256_ = make; }

  // The SHA-256 (hexadecimal) and size FetchChecked found for the file it
  // staged as key in this run; false when it made none (the file was
  // staged otherwise, or earlier).
  bool StagedSha256(const std::string& key, std::string* sha256, uint64_t* size) const;

  // Fetches and decodes as above into PathOf(name) without a key to check
  // against, decoding no more than maxDecoded bytes (deflate lets a small
  // download expand a thousandfold); *key receives the key of what was
  // decoded. check, when given, sees the download before it is decoded.
  bool FetchDecoded(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                    uint64_t maxFetched, uint64_t maxDecoded, const std::string& name,
                    std::string* key, std::string* error,
                    const DownloadCheck& check = DownloadCheck());

  // Fetches the release file parts as it is into PathOf(name), taking at
  // most maxFetched bytes.
  bool FetchRaw(ReleaseFetcher* fetcher, const std::vector<std::string>& parts, uint64_t maxFetched,
                const std::string& name, std::string* error);

  // Removes one entry of the folder (a link as itself).
  void Discard(const std::string& name) const;

  // Removes the folder and everything in it; what cannot go stays for a
  // later run.
  void RemoveAll() const;

 private:
  bool Download(ReleaseFetcher* fetcher, const std::vector<std::string>& parts, uint64_t maxFetched,
                const std::string& path, std::string* error) const;
  bool Decode(const std::string& from, const std::string& to, uint64_t maxDecoded, std::string* key,
              std::string* error) const;

  std::string install_dir_;
  std::string dir_;
  bool make_sha256_ = false;
  // The keys that may name entries here, when surveyed_; the fetch threads
  // add to it.
  mutable std::mutex keys_mutex_;
  bool surveyed_ = false;
  std::set<std::string> keys_with_entries_;
  // What FetchChecked found, by key; the fetch threads add to it.
  mutable std::mutex digests_mutex_;
  std::map<std::string, std::pair<std::string, uint64_t>> digests_;
};

// Removes one entry of the folder at path, a link as itself, a protected
// file too; nothing when there is none.
void RemoveStagedEntry(const std::string& path);

// Deflate turns one input byte into at most 1032 output bytes; with the
// trailer's length (modulo 2^32) that bounds the true length of a member.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Why decoding from into to failed, for the error line.
std::string DecodeFailure(DecompressStatus status, const std::string& from, const std::string& to);

}  // namespace update

#endif  // FILEDIST_UPDATE_STAGING_H

// One file fetched into the staging folder: decoded as it arrives, keyed on
// the way, written once and never read back. A transfer cut off part-way
// keeps what was decoded up to the decoder's last resume point and the
// compressed bytes after it, with a resume record naming the point
// (update/resume_record.h); a later transfer of the same name takes them up
// and fetches only the rest.
//
// It is the unit that fetches one file, so that another way to get a file's
// bytes (a patch against the installed copy) can stand beside it.
#ifndef FILEDIST_UPDATE_STAGED_TRANSFER_H
#define FILEDIST_UPDATE_STAGED_TRANSFER_H

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/gzip_decompress.h"
#include "update/release_fetcher.h"
#include "update/resume_record.h"
#include "update/staging.h"
#include "update/stream_keyer.h"
#include "util/scoped_file.h"

namespace update {

class StagedTransfer {
 public:
  // How a transfer ended.
  enum class End {
    kDecoded,      // whole, decoded and keyed
    kCutOff,       // the transfer failed part-way; what came is kept
    kUndecodable,  // the bytes did not decode; nothing is kept
    kFailed,       // any other failure; nothing is kept
  };

  // The transfer of the file staged as name (its decoded bytes go to
  // PartName(name)), taking at most maxFetched compressed bytes; progress,
  // when given, hears the bytes received so far. sha256: the decoded file's
  // SHA-256 is made on the way as well. fresh: the folder holds no entry of
  // name (Staging::ClaimFresh), so none is cleared before it is made, and a
  // small file is held in memory until its key is known (held()).
  //
  // raw: the bytes are kept as they come, not decoded (a binary patch). A
  // raw transfer cut off keeps its part file, whose length is where the
  // next one goes on from; *key then is the key of the bytes themselves.
  StagedTransfer(const Staging& staging, const std::string& name, uint64_t maxFetched,
                 const FetchProgress& progress, bool sha256 = false, bool fresh = false,
                 bool raw = false);
  StagedTransfer(const StagedTransfer&) = delete;
  StagedTransfer& operator=(const StagedTransfer&) = delete;

  // Fetches the release file parts. With resume, what an earlier transfer
  // of the same name kept is taken up (resumed() tells afterwards). On
  // kDecoded *key holds the decoded file's key; otherwise *error says why.
  End Run(ReleaseFetcher* fetcher, const std::vector<std::string>& parts, bool resume,
          std::string* key, std::string* error);

  bool resumed() const { return resumed_; }
  // The part file (for a raw transfer that ended kDecoded, the bytes).
  const std::string& part_path() const { return decoded_; }
  // After a failure: the staging folder refused a write (a full disk, a
  // read-only file system), which another way to get the file would meet
  // as well.
  bool disk_failed() const { return write_error_ != 0; }
  // After kDecoded: the decoded file is in memory, not in the part file.
  bool held() const { return holding_; }
  // Writes the held file as the new file path, once its key was found to
  // be the one wanted: one file made, no part file renamed. False, with
  // *error set and nothing left at path, when it could not be written.
  bool KeepHeld(const std::string& path, std::string* error);
  // After kDecoded with sha256: the file's SHA-256 in hexadecimal (empty
  // where it could not be made) and its size.
  const std::string& sha256() const { return keyer_.sha256(); }
  uint64_t size() const { return keyer_.size(); }

 private:
  // Reads the record and moves the decoded bytes aside to be replayed;
  // false when there is nothing to take up.
  bool FindKept(ResumeRecord* record);
  // Feeds the kept bytes through the new decoder again.
  bool Replay(const ResumeRecord& record);
  // A raw transfer's: the part file an earlier one kept, keyed again and
  // copied into the new one; false when there is none to go on from.
  bool ReplayRaw();
  // Notes the system's reason for a failed write; its text for the error.
  void NoteWriteError();
  std::string WriteErrorText(const std::string& path) const;
  // The decoder's output: keyed and written to the part file (WriteOut, on
  // the keyer's writing thread for a large file).
  bool Write(const unsigned char* data, size_t length);
  bool WriteOut(const unsigned char* data, size_t length);
  // Closes the part file once all of the output is in it; false when a
  // write or the close failed.
  bool CloseOut();
  // The transport's bytes: decoded, and kept since the last resume point.
  bool Take(const char* data, size_t size);
  void KeepTail(const char* data, size_t size);
  // Writes what a later run needs to go on from the decoder's last resume
  // point: the compressed bytes after it, then the record that names it.
  bool KeepForLater();
  void RemoveAll() const;
  // Makes path as a new file; for a fresh name, clears it only when it is
  // found taken after all.
  FILE* CreateEntry(const std::string& path, std::string* error) const;
  // Moves what is held in memory to the part file, which is then written
  // to from here on.
  bool Spill();

  const std::string decoded_;   // the part file
  const std::string download_;  // compressed bytes after a resume point
  const std::string record_;    // the resume record
  const std::string earlier_;   // an earlier part file, while it is replayed
  const uint64_t max_fetched_;
  const FetchProgress& progress_;

  util::ScopedFile out_;
  uint64_t unflushed_ = 0;  // of the writing side
  StreamKeyer keyer_;
  const DecompressSink write_;  // the decoder holds it by reference
  GzipStreamDecoder decoder_;

  // The compressed bytes since the decoder's last resume point: all that a
  // cut-off transfer must keep for the next run.
  std::string tail_;
  uint64_t tail_start_ = 0;
  bool tail_whole_ = true;

  uint64_t received_ = 0;
  uint64_t kept_at_ = 0;
  bool too_long_ = false;
  bool out_of_memory_ = false;
  DecompressStatus status_ = DecompressStatus::kOk;
  bool resumed_ = false;

  const bool fresh_;
  const bool raw_;
  // The system's reason a write to the staging folder failed, taken where
  // it failed: a large file is written on the keyer's thread, whose errno
  // this one never sees.
  std::atomic<int> write_error_{0};
  bool part_made_ = false;  // this transfer made the part file
  bool kept_ = false;       // it wrote what a later run goes on from
  // A small fresh file is decoded into memory: it is written once, under
  // its key, when that is found to be right.
  bool holding_ = false;
  std::string held_;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_STAGED_TRANSFER_H

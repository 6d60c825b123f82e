#include "update/staged_transfer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "update/fault_point.h"
#include "update/staging_names.h"

namespace update {

namespace {

// Files of this many compressed bytes and more are keyed on a thread of
// their own while they arrive; for smaller ones a thread costs more than it
// saves.
constexpr uint64_t kKeyAsideFrom = uint64_t{8} << 20;

// Decoded bytes between two starts of writing them to the disk.
constexpr uint64_t kWriteBackStep = uint64_t{16} << 20;

// Beyond this many compressed bytes since the last resume point (a deflate
// block that long is rare), a cut-off transfer keeps nothing to go on from.
constexpr size_t kMostKeptTail = size_t{64} << 20;

// Compressed bytes between two records of where a transfer may go on from.
constexpr uint64_t kKeepStep = uint64_t{16} << 20;

// A fresh file of fewer compressed bytes than this is decoded into memory
// and written once its key is known, up to this many decoded bytes (beyond
// them it goes on in the part file). Most files of a release are this
// small; for them the part file's making and renaming is most of the cost.
constexpr uint64_t kHoldBelow = uint64_t{256} << 10;
constexpr size_t kMostHeld = size_t{1} << 20;

// The most a download of maxFetched bytes may decode to: deflate's own
// bound, so that a small forged file cannot fill the disk. A gzip member
// whose length disagrees with its trailer fails at its end.
uint64_t StreamedLimit(uint64_t maxFetched) {
  return maxFetched > UINT64_MAX / kMaxDeflateRatio ? UINT64_MAX : maxFetched * kMaxDeflateRatio;
}

}  // namespace

StagedTransfer::StagedTransfer(const Staging& staging, const std::string& name, uint64_t maxFetched,
                               const FetchProgress& progress, bool sha256, bool fresh, bool raw)
    : decoded_(staging.PathOf(staging_names::PartName(name))),
      download_(staging.PathOf(staging_names::DownloadName(name))),
      record_(staging.PathOf(staging_names::ResumeName(name))),
      earlier_(staging.PathOf(staging_names::EarlierName(name))),
      max_fetched_(maxFetched),
      progress_(progress),
      keyer_(maxFetched >= kKeyAsideFrom, sha256,
             [this](const unsigned char* data, size_t length) { return WriteOut(data, length); }),
      write_([this](const unsigned char* data, size_t length) { return Write(data, length); }),
      // Decoded straight into the keyer's ring, not copied there.
      decoder_(write_, StreamedLimit(maxFetched),
               [this](size_t* size) { return keyer_.Room(size); }),
      fresh_(fresh),
      raw_(raw),
      holding_(fresh && !raw && maxFetched < kHoldBelow) {}

void StagedTransfer::NoteWriteError() {
  int expected = 0;
  int code = plat::LastSystemError();
  write_error_.compare_exchange_strong(expected, code != 0 ? code : -1);
}

std::string StagedTransfer::WriteErrorText(const std::string& path) const {
  int code = write_error_.load();
  return "cannot write '" + path +
         "': " + (code > 0 ? plat::SystemErrorText(code) : plat::LastErrorText());
}

// What a fresh transfer never made needs no clearing.
void StagedTransfer::RemoveAll() const {
  if (!fresh_ || kept_) {
    RemoveStagedEntry(record_);
    RemoveStagedEntry(download_);
  }
  if (!fresh_ || part_made_) RemoveStagedEntry(decoded_);
}

FILE* StagedTransfer::CreateEntry(const std::string& path, std::string* error) const {
  if (!fresh_) RemoveStagedEntry(path);
  FaultPoint();
  FILE* file = plat::CreateNewFile(path, error);
  if (file != nullptr || !fresh_ || !plat::NameIsTaken(path)) return file;
  // Made since the folder was listed: cleared as any other would be.
  RemoveStagedEntry(path);
  FaultPoint();
  return plat::CreateNewFile(path, error);
}

bool StagedTransfer::Spill() {
  if (!holding_) return true;
  std::string ignored;
  out_.reset(CreateEntry(decoded_, &ignored));
  if (!out_) {
    NoteWriteError();
    return false;
  }
  part_made_ = true;
  holding_ = false;
  bool written = std::fwrite(held_.data(), 1, held_.size(), out_.get()) == held_.size();
  std::string().swap(held_);
  return written;
}

bool StagedTransfer::KeepHeld(const std::string& path, std::string* error) {
  util::ScopedFile out(CreateEntry(path, error));
  if (!out) {
    *error = "cannot keep '" + path + "': " + *error;
    return false;
  }
  // One write of the whole file, without a stream buffer.
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  bool written = std::fwrite(held_.data(), 1, held_.size(), out.get()) == held_.size();
  int code = written ? 0 : plat::LastSystemError();
  if (std::fclose(out.release()) == 0 && written) return true;
  if (code == 0) code = plat::LastSystemError();
  *error = "cannot keep '" + path + "': " + plat::SystemErrorText(code);
  RemoveStagedEntry(path);
  return false;
}

bool StagedTransfer::FindKept(ResumeRecord* record) {
  bool take_up = ReadResumeRecord(record_, record) && record->point.input + record->kept > 0 &&
                 record->point.input + record->kept < max_fetched_ &&
                 !plat::IsLinkEntry(decoded_) && !plat::IsLinkEntry(download_);
  RemoveStagedEntry(record_);
  RemoveStagedEntry(earlier_);
  if (!take_up) return false;
  FaultPoint();
  return plat::ReplaceFileAtomically(decoded_.c_str(), earlier_.c_str());
}

bool StagedTransfer::Write(const unsigned char* data, size_t length) {
  return keyer_.Add(data, length);
}

bool StagedTransfer::WriteOut(const unsigned char* data, size_t length) {
  if (holding_) {
    if (held_.size() + length <= kMostHeld) {
      held_.append(reinterpret_cast<const char*>(data), length);
      return true;
    }
    if (!Spill()) return false;
  }
  if (std::fwrite(data, 1, length, out_.get()) != length) {
    NoteWriteError();
    return false;
  }
  // The disk takes the file while it arrives, so that the flush before the
  // apply does not wait for all of it at once.
  unflushed_ += length;
  if (unflushed_ >= kWriteBackStep) {
    plat::StartWriteBack(out_.get());
    unflushed_ = 0;
  }
  return true;
}

bool StagedTransfer::CloseOut() {
  // Nothing may be left to write once the file is closed.
  bool written = keyer_.Drain();
  if (!out_) return written;  // held in memory
  if (std::fclose(out_.release()) != 0) {
    NoteWriteError();
    return false;
  }
  return written;
}

// The new bytes were fed already: of them, those before the decoder's last
// resume point are never copied.
void StagedTransfer::KeepTail(const char* data, size_t size) {
  if (!tail_whole_) return;
  uint64_t from = decoder_.resume_point().input;
  uint64_t behind = from > tail_start_ ? from - tail_start_ : 0;
  if (behind >= tail_.size()) {
    size_t skipped = static_cast<size_t>(std::min<uint64_t>(behind - tail_.size(), size));
    tail_.assign(data + skipped, size - skipped);
  } else {
    tail_.erase(0, static_cast<size_t>(behind));
    tail_.append(data, size);
  }
  tail_start_ += behind;
  if (tail_.size() > kMostKeptTail) {
    tail_whole_ = false;
    std::string().swap(tail_);
  }
}

// The staged file must hold the output up to the point by then.
bool StagedTransfer::KeepForLater() {
  const GzipResumePoint& last = decoder_.resume_point();
  if (!tail_whole_ || last.input < tail_start_ || last.input - tail_start_ > tail_.size()) {
    return false;
  }
  size_t from = static_cast<size_t>(last.input - tail_start_);
  size_t size = tail_.size() - from;
  kept_ = true;
  // No record ever names compressed bytes other than those beside it.
  RemoveStagedEntry(record_);
  RemoveStagedEntry(download_);
  FaultPoint();
  std::string ignored;
  util::ScopedFile rest(plat::CreateNewFile(download_, &ignored));
  bool kept = rest && std::fwrite(tail_.data() + from, 1, size, rest.get()) == size;
  kept = rest && std::fclose(rest.release()) == 0 && kept;
  ResumeRecord record;
  record.point = last;
  record.kept = size;
  return kept && WriteResumeRecord(record_, record);
}

bool StagedTransfer::Replay(const ResumeRecord& record) {
  const GzipResumePoint& point = record.point;
  util::ScopedFile before(plat::OpenRegularFile(earlier_.c_str(), false));
  util::ScopedFile rest(plat::OpenRegularFile(download_.c_str(), false));
  int64_t before_length = before ? plat::FileLength(before.get()) : -1;
  int64_t rest_length = rest ? plat::FileLength(rest.get()) : -1;
  if (before_length < 0 || static_cast<uint64_t>(before_length) < point.output || rest_length < 0 ||
      static_cast<uint64_t>(rest_length) != record.kept) {
    return false;
  }
  // The decoded bytes before the point go into the new file (and its key)
  // again; their last 32 KiB are the decoder's window.
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kGzipChunkSize]);
  std::string window;
  uint64_t left = point.output;
  bool ok = true;
  while (ok && left > 0) {
    size_t want = static_cast<size_t>(left < kGzipChunkSize ? left : kGzipChunkSize);
    size_t got = std::fread(buffer.get(), 1, want, before.get());
    ok = got == want && Write(buffer.get(), got);
    if (!ok) break;
    left -= got;
    window.append(reinterpret_cast<const char*>(buffer.get()), got);
    if (window.size() > 2 * kGzipChunkSize) window.erase(0, window.size() - kGzipChunkSize);
  }
  ok = ok && decoder_.ResumeAt(point, reinterpret_cast<const unsigned char*>(window.data()),
                               window.size());
  tail_start_ = point.input;
  received_ = point.input;
  while (ok) {
    size_t got = std::fread(buffer.get(), 1, kGzipChunkSize, rest.get());
    if (got == 0) break;
    received_ += got;
    ok = decoder_.Feed(buffer.get(), got) == DecompressStatus::kOk;
    if (ok) KeepTail(reinterpret_cast<const char*>(buffer.get()), got);
  }
  return ok && received_ == point.input + record.kept;
}

bool StagedTransfer::Take(const char* data, size_t size) {
  if (size > max_fetched_ - received_) {
    too_long_ = true;
    return false;
  }
  received_ += size;
  if (raw_) {
    if (!Write(reinterpret_cast<const unsigned char*>(data), size)) return false;
    if (progress_) progress_(received_);
    return true;
  }
  // Damaged data stops the transfer at once. Nothing may be thrown through
  // the transport's callbacks.
  try {
    status_ = decoder_.Feed(data, size);
    if (status_ == DecompressStatus::kOk) KeepTail(data, size);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return false;
  }
  if (status_ != DecompressStatus::kOk) return false;
  // Now and then the point to go on from is written down, so that even a
  // run that is killed leaves most of a large file for the next one.
  if (received_ - kept_at_ >= kKeepStep && !holding_) {
    kept_at_ = received_;
    if (keyer_.Drain() && std::fflush(out_.get()) == 0) KeepForLater();
  }
  if (progress_) progress_(received_);
  return true;
}

bool StagedTransfer::ReplayRaw() {
  util::ScopedFile before(plat::OpenRegularFile(earlier_.c_str(), false));
  int64_t length = before ? plat::FileLength(before.get()) : -1;
  if (length <= 0 || static_cast<uint64_t>(length) >= max_fetched_) return false;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kGzipChunkSize]);
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kGzipChunkSize, before.get());
    if (got == 0) break;
    if (!Write(buffer.get(), got)) return false;
    received_ += got;
  }
  return !std::ferror(before.get()) && received_ == static_cast<uint64_t>(length);
}

StagedTransfer::End StagedTransfer::Run(ReleaseFetcher* fetcher,
                                        const std::vector<std::string>& parts, bool resume,
                                        std::string* key, std::string* error) {
  resumed_ = false;
  // A transfer cut off part-way left the file decoded up to a resume point
  // and the compressed bytes after that point; taken up, they are checked
  // with the whole file's key like any other.
  ResumeRecord kept;
  bool take_up = false;
  // A fresh name has nothing to take up and nothing to clear.
  if (!fresh_ && raw_) {
    // The part file a raw transfer left is all it kept.
    RemoveStagedEntry(earlier_);
    take_up = resume && plat::NameIsTaken(decoded_) && !plat::IsLinkEntry(decoded_);
    FaultPoint();
    take_up = take_up && plat::ReplaceFileAtomically(decoded_.c_str(), earlier_.c_str());
  } else if (!fresh_) {
    if (resume) {
      take_up = FindKept(&kept);
    } else {
      RemoveStagedEntry(record_);
      RemoveStagedEntry(earlier_);
    }
    if (!take_up) RemoveStagedEntry(download_);
  }
  if (!holding_) {
    out_.reset(CreateEntry(decoded_, error));
    if (!out_) {
      NoteWriteError();
      *error = "cannot create '" + decoded_ + "': " + *error;
      if (!fresh_) {
        RemoveStagedEntry(earlier_);
        RemoveStagedEntry(download_);
      }
      return End::kFailed;
    }
    part_made_ = true;
  }

  if (take_up) {
    resumed_ = true;
    bool ok = raw_ ? ReplayRaw() : Replay(kept);
    RemoveStagedEntry(earlier_);
    RemoveStagedEntry(download_);
    if (!ok) {
      CloseOut();
      RemoveStagedEntry(decoded_);
      if (write_error_ != 0) {
        *error = WriteErrorText(decoded_);
        return End::kFailed;
      }
      *error = "what an earlier run kept of the file does not decode";
      return End::kUndecodable;
    }
    // The kept bytes count at once: the server may be slow to send the
    // rest, and a progress that starts from nothing and jumps misleads.
    if (progress_) progress_(received_);
  }

  uint64_t resumed_at = received_;
  kept_at_ = received_;
  FetchSink sink = [this](const char* data, size_t size) { return Take(data, size); };
  std::string fetch_error;
  bool fetched = resumed_at > 0 ? fetcher->FetchFrom(parts, resumed_at, sink, &fetch_error)
                                : fetcher->Fetch(parts, sink, &fetch_error);
  if (fetched && status_ == DecompressStatus::kOk && !raw_) status_ = decoder_.Finish();
  bool out_closed = CloseOut();
  End end = End::kFailed;
  if (too_long_) {
    *error = "the download is longer than the " + std::to_string(max_fetched_) +
             " bytes the release lists for it";
  } else if (out_of_memory_) {
    *error = "out of memory";
  } else if (write_error_ != 0) {
    // The disk refused the bytes: whatever else broke off followed from it.
    *error = WriteErrorText(decoded_);
  } else if (status_ != DecompressStatus::kOk) {
    *error = DecodeFailure(status_, download_, decoded_);
    if (status_ != DecompressStatus::kWriteError) end = End::kUndecodable;
  } else if (!fetched) {
    *error = fetch_error;
    // What was decoded up to the last resume point, and the compressed
    // bytes after it, are kept for the next run to go on from.
    if (raw_ && received_ > 0 && out_closed) return End::kCutOff;
    if (!raw_ && received_ > 0 && out_closed && Spill() && CloseOut() && KeepForLater()) {
      return End::kCutOff;
    }
  } else if (!out_closed) {
    *error = WriteErrorText(decoded_);
  } else {
    *key = keyer_.Finish();
    if (!fresh_ || kept_) {
      RemoveStagedEntry(record_);
      RemoveStagedEntry(download_);
    }
    return End::kDecoded;
  }
  RemoveAll();
  return end;
}

}  // namespace update

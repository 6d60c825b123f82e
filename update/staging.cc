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
#include "update/fault_point.h"
#include "update/install_paths.h"
#include "update/stream_keyer.h"
#include "util/scoped_file.h"

namespace update {

namespace {

constexpr const char* kDownloadSuffix = ".download";
constexpr const char* kPartSuffix = ".part";
constexpr const char* kResumeSuffix = ".resume";
constexpr const char* kEarlierSuffix = ".earlier";

// Deflate turns one input byte into at most 1032 output bytes; with the
// trailer's length (modulo 2^32) that bounds the true length of a member.
constexpr uint64_t kMaxDeflateRatio = 1032;

using FilePtr = util::ScopedFile;

void RemoveEntry(const std::string& path) {
  bool link = plat::IsLinkEntry(path);
  if (!link && !plat::PathExists(path.c_str())) return;
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
                     (static_cast<uint64_t>(tail[2]) << 16) | (static_cast<uint64_t>(tail[3]) << 24);
  uint64_t wraps = static_cast<uint64_t>(length) * kMaxDeflateRatio >> 32;
  return trailer + (wraps << 32);
}

// Files of this many compressed bytes and more are keyed on a thread of
// their own while they arrive; for smaller ones a thread costs more than it
// saves.
constexpr uint64_t kKeyAsideFrom = uint64_t{8} << 20;

// Decoded bytes between two starts of writing them to the disk.
constexpr uint64_t kWriteBackStep = uint64_t{16} << 20;

// The most a download of maxFetched bytes may decode to: deflate's own
// bound, so that a small forged file cannot fill the disk. A gzip member
// whose length disagrees with its trailer fails at its end.
uint64_t StreamedLimit(uint64_t maxFetched) {
  return maxFetched > UINT64_MAX / kMaxDeflateRatio ? UINT64_MAX : maxFetched * kMaxDeflateRatio;
}

// Why decoding from into to failed, for the error line.
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

}  // namespace

bool IsWellFormedKey(const std::string& key) {
  if (key.size() != 32) return false;
  for (char c : key) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

Staging::Staging(const std::string& installDir)
    : install_dir_(installDir), dir_(JoinInstallPath(installDir, {kStagingName})) {}

std::string Staging::PathOf(const std::string& name) const { return JoinInstallPath(dir_, {name}); }

bool Staging::Prepare(std::string* error) {
  uint32_t attributes = 0;
  bool is_link = plat::IsLinkEntry(dir_);
  if (is_link || (plat::GetAttributes(dir_.c_str(), &attributes) &&
                  (attributes & plat::kAttrDirectory) == 0)) {
    RemoveEntry(dir_);
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
  std::string probe = PathOf("probe");
  Discard("probe");
  FaultPoint();
  FILE* file = plat::CreateNewFile(probe, error);
  if (file == nullptr) return false;
  std::fclose(file);
  plat::RemoveFile(probe.c_str());
  return true;
}

bool Staging::HasChecked(const std::string& key) const {
  std::string found;
  return IsWellFormedKey(key) && KeyOfInstalledFile(CheckedPath(key), &found) && found == key;
}

void Staging::Discard(const std::string& name) const { RemoveEntry(PathOf(name)); }

void Staging::RemoveAll() const {
  if (plat::IsLinkEntry(dir_)) {
    RemoveEntry(dir_);
    return;
  }
  if (!plat::PathExists(dir_.c_str())) return;
  FaultPoint();
  IOUtil_RemoveDirTree(dir_.c_str());
}

bool Staging::Download(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                       uint64_t maxFetched, const std::string& path, std::string* error) const {
  uint64_t received = 0;
  RemoveEntry(path);
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
  RemoveEntry(path);
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
  RemoveEntry(to);
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
  RemoveEntry(to);
  return false;
}

namespace {

// What a cut-off transfer leaves for the next run beside the decoded bytes:
// the point the decoder can be set back to, and how many compressed bytes
// after it are kept (the decoder had not finished a block with them).
constexpr const char* kResumeFormat = "filedist-resume 1";

bool WriteResumeRecord(const std::string& path, const GzipResumePoint& point, uint64_t kept) {
  RemoveEntry(path);
  std::string error;
  FilePtr file(plat::CreateNewFile(path, &error));
  if (!file) return false;
  std::string line = std::string(kResumeFormat) + " " + std::to_string(point.input) + " " +
                     std::to_string(point.output) + " " + std::to_string(point.mode) + " " +
                     std::to_string(point.bits) + " " + std::to_string(point.byte) + " " +
                     std::to_string(kept) + "\n";
  bool written = std::fwrite(line.data(), 1, line.size(), file.get()) == line.size();
  return std::fclose(file.release()) == 0 && written;
}

bool ReadResumeRecord(const std::string& path, GzipResumePoint* point, uint64_t* kept) {
  if (plat::IsLinkEntry(path)) return false;
  FilePtr file(plat::OpenRegularFile(path.c_str(), false));
  if (!file) return false;
  char text[160] = {};
  size_t got = std::fread(text, 1, sizeof(text) - 1, file.get());
  std::string line(text, got);
  std::string prefix = std::string(kResumeFormat) + " ";
  if (line.compare(0, prefix.size(), prefix) != 0 || line.empty() || line.back() != '\n') {
    return false;
  }
  unsigned long long input = 0, output = 0, rest = 0;
  int mode = 0, bits = 0, byte = 0;
  if (std::sscanf(line.c_str() + prefix.size(), "%llu %llu %d %d %d %llu", &input, &output, &mode,
                  &bits, &byte, &rest) != 6) {
    return false;
  }
  point->input = input;
  point->output = output;
  point->mode = mode;
  point->bits = bits;
  point->byte = byte;
  *kept = rest;
  return true;
}

// Beyond this many compressed bytes since the last resume point (a deflate
// block that long is rare), a cut-off transfer keeps nothing to go on from.
constexpr size_t kMostKeptTail = size_t{64} << 20;

// Compressed bytes between two records of where a transfer may go on from.
constexpr uint64_t kKeepStep = uint64_t{16} << 20;

}  // namespace

Staging::StreamEnd Staging::Stream(ReleaseFetcher* fetcher,
                                   const std::vector<std::string>& parts, uint64_t maxFetched,
                                   const std::string& name, bool resume,
                                   const FetchProgress& progress, std::string* key, bool* resumed,
                                   std::string* error) const {
  const std::string decoded = PathOf(name + kPartSuffix);
  const std::string download = PathOf(name + kDownloadSuffix);
  const std::string record = PathOf(name + kResumeSuffix);
  const std::string earlier = PathOf(name + kEarlierSuffix);
  *resumed = false;
  // A transfer cut off part-way left the file decoded up to a resume point
  // and the compressed bytes after that point; taken up, they are checked
  // with the whole file's key like any other.
  GzipResumePoint point;
  uint64_t kept_size = 0;
  bool take_up = resume && ReadResumeRecord(record, &point, &kept_size) &&
                 point.input + kept_size > 0 && point.input + kept_size < maxFetched &&
                 !plat::IsLinkEntry(decoded) && !plat::IsLinkEntry(download);
  RemoveEntry(record);
  RemoveEntry(earlier);
  if (take_up) {
    FaultPoint();
    take_up = plat::ReplaceFileAtomically(decoded.c_str(), earlier.c_str());
  }
  RemoveEntry(decoded);
  if (!take_up) RemoveEntry(download);
  FaultPoint();
  FilePtr out(plat::CreateNewFile(decoded, error));
  if (!out) {
    *error = "cannot create '" + decoded + "': " + *error;
    RemoveEntry(earlier);
    RemoveEntry(download);
    return StreamEnd::kFailed;
  }
  StreamKeyer keyer(maxFetched >= kKeyAsideFrom);
  uint64_t unflushed = 0;
  DecompressSink write = [&](const unsigned char* data, size_t length) {
    keyer.Add(data, length);
    if (std::fwrite(data, 1, length, out.get()) != length) return false;
    // The disk takes the file while it arrives, so that the flush before
    // the apply does not wait for all of it at once.
    unflushed += length;
    if (unflushed >= kWriteBackStep) {
      plat::StartWriteBack(out.get());
      unflushed = 0;
    }
    return true;
  };
  GzipStreamDecoder decoder(write, StreamedLimit(maxFetched));

  // The compressed bytes since the decoder's last resume point: all that a
  // cut-off transfer must keep for the next run.
  std::string tail;
  uint64_t tail_start = 0;
  bool tail_whole = true;
  auto keep_tail = [&](const char* data, size_t size) {
    if (!tail_whole) return;
    tail.append(data, size);
    uint64_t from = decoder.resume_point().input;
    if (from > tail_start) {
      tail.erase(0, static_cast<size_t>(from - tail_start));
      tail_start = from;
    }
    if (tail.size() > kMostKeptTail) {
      tail_whole = false;
      std::string().swap(tail);
    }
  };

  // Writes what a later run needs to go on from the decoder's last resume
  // point: the compressed bytes after it, then the record that names it.
  // The staged file must hold the output up to the point by then.
  auto keep_for_later = [&]() {
    const GzipResumePoint& last = decoder.resume_point();
    if (!tail_whole || last.input < tail_start || last.input - tail_start > tail.size()) {
      return false;
    }
    size_t from = static_cast<size_t>(last.input - tail_start);
    size_t size = tail.size() - from;
    // No record ever names compressed bytes other than those beside it.
    RemoveEntry(record);
    RemoveEntry(download);
    FaultPoint();
    std::string ignored;
    FilePtr rest(plat::CreateNewFile(download, &ignored));
    bool kept = rest && std::fwrite(tail.data() + from, 1, size, rest.get()) == size;
    kept = rest && std::fclose(rest.release()) == 0 && kept;
    return kept && WriteResumeRecord(record, last, size);
  };

  uint64_t received = 0;
  if (take_up) {
    *resumed = true;
    bool ok = false;
    {
      FilePtr before(plat::OpenRegularFile(earlier.c_str(), false));
      FilePtr rest(plat::OpenRegularFile(download.c_str(), false));
      int64_t before_length = before ? plat::FileLength(before.get()) : -1;
      int64_t rest_length = rest ? plat::FileLength(rest.get()) : -1;
      if (before_length >= 0 && static_cast<uint64_t>(before_length) >= point.output &&
          rest_length >= 0 && static_cast<uint64_t>(rest_length) == kept_size) {
        // The decoded bytes before the point go into the new file (and its
        // key) again; their last 32 KiB are the decoder's window.
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[kGzipChunkSize]);
        std::string window;
        uint64_t left = point.output;
        ok = true;
        while (ok && left > 0) {
          size_t want = static_cast<size_t>(left < kGzipChunkSize ? left : kGzipChunkSize);
          size_t got = std::fread(buffer.get(), 1, want, before.get());
          ok = got == want && write(buffer.get(), got);
          if (!ok) break;
          left -= got;
          window.append(reinterpret_cast<const char*>(buffer.get()), got);
          if (window.size() > 2 * kGzipChunkSize) window.erase(0, window.size() - kGzipChunkSize);
        }
        ok = ok && decoder.ResumeAt(point, reinterpret_cast<const unsigned char*>(window.data()),
                                    window.size());
        tail_start = point.input;
        received = point.input;
        while (ok) {
          size_t got = std::fread(buffer.get(), 1, kGzipChunkSize, rest.get());
          if (got == 0) break;
          received += got;
          ok = decoder.Feed(buffer.get(), got) == DecompressStatus::kOk;
          if (ok) keep_tail(reinterpret_cast<const char*>(buffer.get()), got);
        }
        ok = ok && received == point.input + kept_size;
      }
    }
    RemoveEntry(earlier);
    RemoveEntry(download);
    if (!ok) {
      out.reset();
      RemoveEntry(decoded);
      *error = "what an earlier run kept of the file does not decode";
      return StreamEnd::kUndecodable;
    }
  }

  uint64_t resumed_at = received;
  uint64_t kept_at = received;
  bool too_long = false;
  bool out_of_memory = false;
  DecompressStatus status = DecompressStatus::kOk;
  FetchSink sink = [&](const char* data, size_t size) {
    if (size > maxFetched - received) {
      too_long = true;
      return false;
    }
    received += size;
    // Damaged data stops the transfer at once. Nothing may be thrown
    // through the transport's callbacks.
    try {
      status = decoder.Feed(data, size);
      if (status == DecompressStatus::kOk) keep_tail(data, size);
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
      return false;
    }
    if (status != DecompressStatus::kOk) return false;
    // Now and then the point to go on from is written down, so that even a
    // run that is killed leaves most of a large file for the next one.
    if (received - kept_at >= kKeepStep) {
      kept_at = received;
      if (std::fflush(out.get()) == 0) keep_for_later();
    }
    if (progress) progress(received);
    return true;
  };
  std::string fetch_error;
  bool fetched = resumed_at > 0 ? fetcher->FetchFrom(parts, resumed_at, sink, &fetch_error)
                                : fetcher->Fetch(parts, sink, &fetch_error);
  if (fetched && status == DecompressStatus::kOk) status = decoder.Finish();
  bool out_closed = std::fclose(out.release()) == 0;
  StreamEnd end = StreamEnd::kFailed;
  if (too_long) {
    *error = "the download is longer than the " + std::to_string(maxFetched) +
             " bytes the release lists for it";
  } else if (out_of_memory) {
    *error = "out of memory";
  } else if (status != DecompressStatus::kOk) {
    *error = DecodeFailure(status, download, decoded);
    if (status != DecompressStatus::kWriteError) end = StreamEnd::kUndecodable;
  } else if (!fetched) {
    *error = fetch_error;
    // What was decoded up to the last resume point, and the compressed
    // bytes after it, are kept for the next run to go on from.
    if (received > 0 && out_closed && keep_for_later()) return StreamEnd::kCutOff;
  } else if (!out_closed) {
    *error = DecodeFailure(DecompressStatus::kWriteError, download, decoded);
  } else {
    *key = keyer.Finish();
    RemoveEntry(record);
    RemoveEntry(download);
    return StreamEnd::kDecoded;
  }
  RemoveEntry(record);
  RemoveEntry(decoded);
  RemoveEntry(download);
  return end;
}

bool Staging::FetchDecoded(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                           uint64_t maxFetched, uint64_t maxDecoded, const std::string& name,
                           std::string* key, std::string* error, const DownloadCheck& check) {
  std::string download = PathOf(name + kDownloadSuffix);
  if (!Download(fetcher, parts, maxFetched, download, error)) return false;
  if (check && !check(download, error)) {
    RemoveEntry(download);
    return false;
  }
  std::string target = PathOf(name);
  bool decoded = Decode(download, target, maxDecoded, key, error);
  RemoveEntry(download);
  return decoded;
}

bool Staging::FetchRaw(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                       uint64_t maxFetched, const std::string& name, std::string* error) {
  return Download(fetcher, parts, maxFetched, PathOf(name), error);
}

bool Staging::FetchChecked(ReleaseFetcher* fetcher, const std::vector<std::string>& parts,
                           const std::string& key, uint64_t maxFetched,
                           const FetchProgress& progress, std::string* error) {
  if (!IsWellFormedKey(key)) {
    *error = "the release lists it with the malformed key '" + key + "'";
    return false;
  }
  std::string part = PathOf(key + kPartSuffix);
  std::string found;
  bool resumed = false;
  StreamEnd end = Stream(fetcher, parts, maxFetched, key, true, progress, &found, &resumed, error);
  if (resumed && (end == StreamEnd::kUndecodable || (end == StreamEnd::kDecoded && found != key))) {
    // What an earlier run left was no start to go on from: damaged, or the
    // beginning of another compression of the same file (a release rebuilt
    // since). One fetch from the start settles it.
    RemoveEntry(part);
    end = Stream(fetcher, parts, maxFetched, key, false, progress, &found, &resumed, error);
  }
  if (end != StreamEnd::kDecoded) return false;
  if (found != key) {
    RemoveEntry(part);
    *error = "the download has the key " + found + ", not the key " + key +
             " the release lists; the installed file was left as it was";
    return false;
  }
  RemoveEntry(CheckedPath(key));
  FaultPoint();
  if (!plat::ReplaceFileAtomically(part.c_str(), CheckedPath(key).c_str())) {
    *error = "cannot keep '" + CheckedPath(key) + "': " + plat::LastErrorText();
    RemoveEntry(part);
    return false;
  }
  return true;
}

}  // namespace update

#include "updater/release_source.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "protocol/latest_pointer.h"
#include "protocol/patch_dir_name.h"
#include "protocol/release_manifest.h"
#include "platform/bounded_file.h"
#include "platform/platform.h"

namespace {

// The components joined below base with the system's separator.
std::string JoinBelow(const std::string& base, const std::vector<std::string>& parts) {
  std::filesystem::path joined(base);
  for (const std::string& part : parts) joined /= part;
  return joined.string();
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Percent-encodes one path component for a URL.
std::string EncodeComponent(const std::string& part) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : part) {
    unsigned char byte = static_cast<unsigned char>(c);
    bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                 (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                 byte == '~';
    if (plain) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      encoded.push_back(kHex[byte >> 4]);
      encoded.push_back(kHex[byte & 15]);
    }
  }
  return encoded;
}

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

// A release folder may hold anything at a file's name: only a regular file
// is read, so that a named pipe there cannot hold the update (and its lock)
// forever.
bool StreamLocal(const std::string& from, const StreamSink& sink, std::string* error) {
  FilePtr in(plat::OpenRegularFile(from.c_str()), std::fclose);
  if (!in) {
    *error = "cannot read " + from + (errno == EINVAL ? ": not a regular file" : "");
    return false;
  }
  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  // Read in whole chunks straight into the buffer: a stream buffer of its
  // own would only cost a look at the file for its size.
  std::setvbuf(in.get(), nullptr, _IONBF, 0);
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kChunk, in.get());
    if (got == 0) break;
    if (!sink(buffer.get(), got)) {
      *error = "the file was refused";
      return false;
    }
    // A short read is the end (or an error, told below): most release
    // files are read whole by one.
    if (got < kChunk) break;
  }
  if (std::ferror(in.get())) {
    *error = "cannot read " + from;
    return false;
  }
  return true;
}

std::string LastComponent(std::string location) {
  while (!location.empty() && (location.back() == '/' || location.back() == '\\')) {
    location.pop_back();
  }
  size_t separator = location.find_last_of("/\\");
  return separator == std::string::npos ? location : location.substr(separator + 1);
}

std::string FileUrl(std::string url, const std::vector<std::string>& parts) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  for (const std::string& part : parts) url += "/" + EncodeComponent(part);
  return url;
}

}  // namespace

ReleaseSource::ReleaseSource(std::string location, FetchSettings settings)
    : location_(std::move(location)),
      is_url_(StartsWith(location_, "http://") || StartsWith(location_, "https://")),
      settings_(std::move(settings)) {}

ReleaseSource::~ReleaseSource() = default;

bool ReleaseSource::Check(std::string* error) const {
  if (is_url_) return true;
  std::error_code failure;
  if (std::filesystem::is_directory(location_, failure)) return true;
  *error = "release folder '" + location_ + "' does not exist";
  return false;
}

bool ReleaseSource::FetchTo(const std::vector<std::string>& parts, const StreamSink& sink,
                            std::string* error, uint64_t offset) const {
  if (!is_url_) {
    uint64_t skip = offset;
    StreamSink rest = [&](const char* data, size_t size) {
      size_t skipped = static_cast<size_t>(skip < size ? skip : size);
      skip -= skipped;
      return skipped == size || sink(data + skipped, size - skipped);
    };
    return StreamLocal(JoinBelow(location_, parts), offset > 0 ? rest : sink, error);
  }
  std::unique_ptr<HttpTransport> transport = TakeTransport(error);
  if (!transport) return false;
  FetchStats stats;
  bool fetched = FetchStream(transport.get(), FileUrl(location_, parts), offset, sink,
                             settings_.retry, &stats, error);
  std::lock_guard<std::mutex> hold(mutex_);
  received_ += stats.received;
  idle_.push_back(std::move(transport));
  return fetched;
}

namespace {

// Stops a transfer as soon as an answer with a body begins.
class StopAtStart : public BodySink {
 public:
  bool Start(bool) override { return false; }
  bool Write(const char*, size_t) override { return false; }
};

}  // namespace

bool ReleaseSource::IsMissing(const std::vector<std::string>& parts) const {
  if (!is_url_) {
    std::error_code failure;
    // A link that leads nowhere is an entry all the same; an entry that
    // cannot be looked at (no permission) may be there.
    return std::filesystem::symlink_status(JoinBelow(location_, parts), failure).type() ==
           std::filesystem::file_type::not_found;
  }
  std::string error;
  std::unique_ptr<HttpTransport> transport = TakeTransport(&error);
  if (!transport) return false;
  StopAtStart stop;
  TransferResult result = transport->Get(FileUrl(location_, parts), 0, &stop);
  std::lock_guard<std::mutex> hold(mutex_);
  idle_.push_back(std::move(transport));
  return result.http_status == 404 || result.http_status == 410;
}

std::unique_ptr<HttpTransport> ReleaseSource::TakeTransport(std::string* error) const {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<HttpTransport> transport = std::move(idle_.back());
      idle_.pop_back();
      return transport;
    }
  }
  return MakeHttpTransport(settings_.transport, error);
}

uint64_t ReleaseSource::received() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return received_;
}

bool ReleaseSource::FollowLatest(std::string* error) {
  if (IsPatchDirName(LastComponent(location_))) return true;
  std::string text;
  if (is_url_) {
    // Anything but a LATEST to read means the URL is taken as a patch
    // directory, as before; fetching its version list says what is wrong.
    // A longer body than a pointer can be is no LATEST.
    std::string ignored;
    StreamSink keep = [&text](const char* data, size_t size) {
      if (text.size() + size > kReleasePointerSizeLimit) return false;
      text.append(data, size);
      return true;
    };
    if (!FetchTo({kLatestName}, keep, &ignored)) return true;
  } else {
    std::error_code missing;
    if (std::filesystem::exists(JoinBelow(location_, {kVersionListName}), missing)) return true;
    // As over HTTP, a file longer than a pointer can be is no LATEST: cut
    // to the limit it could still read as a name.
    if (!plat::ReadBoundedFile(JoinBelow(location_, {kLatestName}), kReleasePointerSizeLimit,
                               &text)) {
      return true;
    }
  }
  std::string patch;
  if (!ParseReleasePointer(text, &patch)) {
    *error = std::string(kLatestName) + " in '" + location_ + "' does not name a patch directory";
    return false;
  }
  if (is_url_) {
    while (!location_.empty() && location_.back() == '/') location_.pop_back();
    location_ += "/" + patch;
  } else {
    location_ = JoinBelow(location_, {patch});
  }
  return true;
}

bool ReleaseSource::IsPatchDirectory() const { return IsPatchDirName(LastComponent(location_)); }

bool ReleaseSource::HasLatest() const {
  std::string text;
  std::string patch;
  return ReadTopFile(kLatestName, kReleasePointerSizeLimit, &text) &&
         ParseReleasePointer(text, &patch);
}

bool ReleaseSource::ReadTopFile(const std::string& name, size_t limit, std::string* text) const {
  text->clear();
  std::string ignored;
  StreamSink keep = [text, limit](const char* data, size_t size) {
    if (text->size() + size > limit) return false;
    text->append(data, size);
    return true;
  };
  if (!is_url_) {
    std::error_code failure;
    std::string path = JoinBelow(location_, {name});
    if (!std::filesystem::is_regular_file(path, failure)) return false;
    return StreamLocal(path, keep, &ignored);
  }
  return FetchTo({name}, keep, &ignored);
}

void ReleaseSource::EnterPatch(const std::string& name) {
  if (is_url_) {
    while (!location_.empty() && location_.back() == '/') location_.pop_back();
    location_ += "/" + name;
  } else {
    location_ = JoinBelow(location_, {name});
  }
}

// Where an update session (and so `filedist update`) takes a release from: a patch directory made by a
// release build, given as a folder (local or UNC) or as an http:// or https://
// URL of a web server that serves one; or the releases folder that holds it,
// whose file LATEST names the newest patch directory.
#ifndef FILEDIST_UPDATER_RELEASE_SOURCE_H
#define FILEDIST_UPDATER_RELEASE_SOURCE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/http_fetch.h"
#include "transport/http_transport.h"

// How a URL source fetches: time limits, certificates, retries.
struct FetchSettings {
  TransportOptions transport;
  RetryPolicy retry;
};

class ReleaseSource {
 public:
  explicit ReleaseSource(std::string location, FetchSettings settings = FetchSettings());
  ~ReleaseSource();

  const std::string& location() const { return location_; }

  // False, with *error set, when a folder source does not exist.
  bool Check(std::string* error) const;

  // Turns a releases folder into the patch directory its LATEST names; a
  // patch directory stays as it is. Nothing is written to disk. False, with
  // *error set, when LATEST names no patch directory.
  bool FollowLatest(std::string* error);

  // True when the location already names a patch directory.
  bool IsPatchDirectory() const;
  // True when the location is a releases folder: its LATEST names a patch
  // directory.
  bool HasLatest() const;
  // Reads the file name at the top of the location (a releases folder) into
  // *text; false when it is missing or holds more than limit bytes.
  bool ReadTopFile(const std::string& name, size_t limit, std::string* text) const;
  // Goes down into the patch directory name (a channel pointer's).
  void EnterPatch(const std::string& name);

  // Streams the release file with the path components parts (as
  // SplitListPath gives them) into sink, which may stop it. Over HTTP, a
  // failure that may pass is tried again, going on where it stopped.
  // Several threads may fetch at once: each takes a connection of its own,
  // which the next fetch reuses.
  // From offset on, where offset is above zero: with a range request over
  // HTTP.
  bool FetchTo(const std::vector<std::string>& parts, const StreamSink& sink, std::string* error,
               uint64_t offset = 0) const;

  // True when the location answers that it has no file at parts: HTTP 404
  // or 410, or no entry of that name in a folder. False when it has one or
  // cannot tell (no answer, a refused certificate). Reads no body.
  bool IsMissing(const std::vector<std::string>& parts) const;

  // Bytes received from the server so far, over every try of every file.
  uint64_t received() const;

 private:
  std::unique_ptr<HttpTransport> TakeTransport(std::string* error) const;

  std::string location_;
  bool is_url_;
  FetchSettings settings_;
  mutable std::mutex mutex_;
  // Transports not in use, each holding its open connections.
  mutable std::vector<std::unique_ptr<HttpTransport>> idle_;
  mutable uint64_t received_ = 0;
};

#endif  // FILEDIST_UPDATER_RELEASE_SOURCE_H

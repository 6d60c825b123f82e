// Where `filedist update` takes a release from: a patch directory made by a
// release build, given as a folder (local or UNC) or as an http:// URL of a
// web server that serves one; or the releases folder that holds it, whose
// file LATEST names the newest patch directory.
#ifndef FILEDIST_CLI_RELEASE_SOURCE_H
#define FILEDIST_CLI_RELEASE_SOURCE_H

#include <cstdint>
#include <memory>
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

  bool is_url() const { return is_url_; }
  const std::string& location() const { return location_; }

  // False, with *error set, when a folder source does not exist.
  bool Check(std::string* error) const;

  // Turns a releases folder into the patch directory its LATEST names; a
  // patch directory stays as it is. scratch is a file the URL form may use.
  // False, with *error set, when LATEST names no patch directory.
  bool FollowLatest(const std::string& scratch, std::string* error);

  // Fetches the release file with the path components parts (as
  // SplitListPath gives them) into dest. A file longer than max_size bytes
  // fails (0: no limit); so does one that stays unfinished after the retries.
  bool Fetch(const std::vector<std::string>& parts, const std::string& dest, uint64_t max_size,
             const FileProgress& progress, std::string* error) const;

  // Bytes received from the server so far, over every try of every file.
  uint64_t received() const { return stats_.received; }

 private:
  std::string location_;
  bool is_url_;
  FetchSettings settings_;
  // Made at the first URL fetch, and kept so its connections are reused.
  mutable std::unique_ptr<HttpTransport> transport_;
  mutable FetchStats stats_;
};

#endif  // FILEDIST_CLI_RELEASE_SOURCE_H

// Where `filedist update` takes a release from: a patch directory made by a
// release build, given as a folder (local or UNC) or as an http:// URL of a
// web server that serves one; or the releases folder that holds it, whose
// file LATEST names the newest patch directory.
#ifndef FILEDIST_CLI_RELEASE_SOURCE_H
#define FILEDIST_CLI_RELEASE_SOURCE_H

#include <string>
#include <vector>

#include "cli/http_download.h"

class ReleaseSource {
 public:
  explicit ReleaseSource(std::string location);

  bool is_url() const { return is_url_; }
  const std::string& location() const { return location_; }

  // False, with *error set, when a folder source does not exist.
  bool Check(std::string* error) const;

  // Turns a releases folder into the patch directory its LATEST names; a
  // patch directory stays as it is. Nothing is written to disk. False, with
  // *error set, when LATEST names no patch directory.
  bool FollowLatest(std::string* error);

  // Fetches the release file with the path components parts (as
  // SplitListPath gives them) into dest.
  bool Fetch(const std::vector<std::string>& parts, const std::string& dest,
             const ByteProgress& progress, std::string* error) const;

  // Streams the same file into sink, which may stop it.
  bool FetchTo(const std::vector<std::string>& parts, const BodySink& sink,
               std::string* error) const;

 private:
  std::string location_;
  bool is_url_;
};

#endif  // FILEDIST_CLI_RELEASE_SOURCE_H

// How the update engine gets the files of a release: a folder, a web server
// or a test's fake all look the same to it. The engine owns where the bytes
// go and how many it takes.
#ifndef FILEDIST_UPDATE_RELEASE_FETCHER_H
#define FILEDIST_UPDATE_RELEASE_FETCHER_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace update {

// Takes the next bytes of a fetched file. False stops the transfer: the
// engine refuses the rest (too long, or the disk refused them).
using FetchSink = std::function<bool(const char* data, size_t size)>;

class ReleaseFetcher {
 public:
  virtual ~ReleaseFetcher() = default;

  // Where the release comes from, for messages.
  virtual std::string Location() const = 0;

  // Streams the release file whose path components are parts (the list's
  // ".\dir\name" gives "dir", "name") into sink. False, with *error set,
  // when the file cannot be had or sink stopped it.
  virtual bool Fetch(const std::vector<std::string>& parts, const FetchSink& sink,
                     std::string* error) = 0;
};

}  // namespace update

#endif  // FILEDIST_UPDATE_RELEASE_FETCHER_H

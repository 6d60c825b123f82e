// How the update engine gets the files of a release: a folder, a web server
// or a test's fake all look the same to it. The engine owns where the bytes
// go and how many it takes.
#ifndef FILEDIST_UPDATE_RELEASE_FETCHER_H
#define FILEDIST_UPDATE_RELEASE_FETCHER_H

#include <cstddef>
#include <cstdint>
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
  // ".\dir\name" gives "dir", "name") into sink. With UpdateOptions.jobs
  // above one, several threads call this at once. False, with *error set,
  // when the file cannot be had or sink stopped it.
  virtual bool Fetch(const std::vector<std::string>& parts, const FetchSink& sink,
                     std::string* error) = 0;

  // Streams the same file from byte offset on: what an earlier run fetched
  // before it was cut off is not fetched again. This one fetches it all and
  // passes on the bytes from offset.
  virtual bool FetchFrom(const std::vector<std::string>& parts, uint64_t offset,
                         const FetchSink& sink, std::string* error) {
    uint64_t skip = offset;
    FetchSink rest = [&](const char* data, size_t size) {
      size_t skipped = static_cast<size_t>(skip < size ? skip : size);
      skip -= skipped;
      return skipped == size || sink(data + skipped, size - skipped);
    };
    return Fetch(parts, rest, error);
  }

  // Bytes that came over the network so far, retries and all, for the
  // summary; 0 for a fetcher that copies from a folder.
  virtual uint64_t BytesReceived() const { return 0; }

  // True when the source answers that it has no file at parts (HTTP 404 or
  // 410, no such file in a folder); false when it has one or cannot tell
  // (no answer, a refused certificate). Asked only after a fetch failed, to
  // tell a place that holds no release from a release that lacks a file.
  virtual bool IsMissing(const std::vector<std::string>& parts) {
    (void)parts;
    return false;
  }
};

}  // namespace update

#endif  // FILEDIST_UPDATE_RELEASE_FETCHER_H

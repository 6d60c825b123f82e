// A release source as the update engine's fetcher.
#ifndef FILEDIST_UPDATER_SOURCE_FETCHER_H
#define FILEDIST_UPDATER_SOURCE_FETCHER_H

#include <cstdint>
#include <string>
#include <vector>

#include "update/release_fetcher.h"
#include "updater/release_source.h"

namespace updater {

class SourceFetcher : public update::ReleaseFetcher {
 public:
  explicit SourceFetcher(const ReleaseSource& source) : source_(source) {}
  std::string Location() const override { return source_.location(); }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override {
    return source_.FetchTo(parts, sink, error);
  }
  bool FetchFrom(const std::vector<std::string>& parts, uint64_t offset,
                 const update::FetchSink& sink, std::string* error) override {
    return source_.FetchTo(parts, sink, error, offset);
  }
  uint64_t BytesReceived() const override { return source_.received(); }
  bool IsMissing(const std::vector<std::string>& parts) override {
    return source_.IsMissing(parts);
  }

 private:
  const ReleaseSource& source_;
};

}  // namespace updater

#endif  // FILEDIST_UPDATER_SOURCE_FETCHER_H

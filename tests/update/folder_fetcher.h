// A release fetcher for the engine's tests: release files from a folder,
// read in small pieces so that a stop by the engine's sink is exercised.
#ifndef FILEDIST_TESTS_UPDATE_FOLDER_FETCHER_H
#define FILEDIST_TESTS_UPDATE_FOLDER_FETCHER_H

#include <atomic>
#include <string>
#include <vector>

#include "update/release_fetcher.h"

namespace testing_support {

class FolderFetcher : public update::ReleaseFetcher {
 public:
  explicit FolderFetcher(std::string root) : root_(std::move(root)) {}
  std::string Location() const override { return root_; }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override;

  int fetches() const { return fetches_; }

 private:
  std::string root_;
  std::atomic<int> fetches_{0};  // the engine fetches from several threads
};

}  // namespace testing_support

#endif  // FILEDIST_TESTS_UPDATE_FOLDER_FETCHER_H

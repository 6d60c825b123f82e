// What `filedist update` and `filedist verify` hand the update engine: the
// release source as a fetcher, and messages and progress for the terminal.
#ifndef FILEDIST_CLI_UPDATE_FRONT_H
#define FILEDIST_CLI_UPDATE_FRONT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/release_source.h"
#include "cli/update_progress.h"
#include "update/release_fetcher.h"
#include "update/update_engine.h"

class SourceFetcher : public update::ReleaseFetcher {
 public:
  explicit SourceFetcher(const ReleaseSource& source) : source_(source) {}
  std::string Location() const override { return source_.location(); }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override {
    return source_.FetchTo(parts, sink, error);
  }

 private:
  const ReleaseSource& source_;
};

// Notes on standard output, problems on standard error, a progress bar on a
// terminal while files are fetched.
class ConsoleReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override;
  void Problem(const std::string& line) override;
  void BeginFetch(uint64_t bytes, int files) override;
  void StartFile(const std::string& path) override;
  void FileBytes(uint64_t received) override;
  void FinishFile(const std::string& path, uint64_t size, bool ok) override;
  void EndFetch() override;

 private:
  std::unique_ptr<UpdateProgress> progress_;
};

#endif  // FILEDIST_CLI_UPDATE_FRONT_H

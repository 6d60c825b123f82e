// What `filedist update` and `filedist verify` show of the update engine:
// its messages and progress on the terminal, or kept for --json.
#ifndef FILEDIST_CLI_UPDATE_FRONT_H
#define FILEDIST_CLI_UPDATE_FRONT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/update_progress.h"
#include "update/update_engine.h"

// Notes on standard output, problems on standard error, a progress bar on a
// terminal while files are fetched; with quiet, the problems alone.
class ConsoleReporter : public update::UpdateReporter {
 public:
  // quiet keeps the notes and the progress back: only problems are shown.
  explicit ConsoleReporter(bool quiet = false) : quiet_(quiet) {}
  void Note(const std::string& line) override;
  void Problem(const std::string& line) override;
  void BeginFetch(uint64_t bytes, int files) override;
  void StartFile(const std::string& path) override;
  void GrowFetch(uint64_t bytes) override;
  void FileBytes(uint64_t received) override;
  void FinishFile(const std::string& path, uint64_t size, bool ok) override;
  void EndFetch() override;

 private:
  bool quiet_;
  std::unique_ptr<UpdateProgress> progress_;
};

// For --json: problems on standard error as always, and kept for the
// document; notes and progress are left out, the document says it all.
class JsonReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& /*line*/) override {}
  void Problem(const std::string& line) override;

  const std::vector<std::string>& problems() const { return problems_; }

 private:
  std::vector<std::string> problems_;
};

#endif  // FILEDIST_CLI_UPDATE_FRONT_H

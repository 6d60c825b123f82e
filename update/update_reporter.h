// Where the update engine's messages and progress go: the terminal in the
// program, a collector in tests.
#ifndef FILEDIST_UPDATE_UPDATE_REPORTER_H
#define FILEDIST_UPDATE_UPDATE_REPORTER_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "update/update_plan.h"

namespace update {

// Where a run's messages go. Note lines say what was done (standard output
// in the program); Problem lines say what failed or was left alone.
class UpdateReporter {
 public:
  virtual ~UpdateReporter() = default;
  virtual void Note(const std::string& line) = 0;
  virtual void Problem(const std::string& line) = 0;
  // Progress of the fetching phase.
  virtual void BeginFetch(uint64_t /*bytes*/, int /*files*/) {}
  virtual void StartFile(const std::string& /*path*/) {}
  virtual void FileBytes(uint64_t /*received*/) {}
  virtual void FinishFile(const std::string& /*path*/, uint64_t /*size*/, bool /*ok*/) {}
  virtual void EndFetch() {}

  // What a dry run would do, as notes: each file to fetch, each no longer
  // in the release (removed with prune, else kept).
  virtual void ShowPlan(const UpdatePlan& plan, bool prune);
  // The summary after an apply: files fetched, the bytes the release lists
  // for them, the bytes that came over the network (0: not known).
  virtual void ShowFetched(size_t files, uint64_t listed_bytes, uint64_t received,
                           const std::string& location);
};

// "512 bytes", "1.5 KiB", "12.3 MiB", "1.25 GiB".
std::string FormatSize(uint64_t bytes);

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_REPORTER_H

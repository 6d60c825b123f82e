// Where the update engine's messages and progress go: the terminal in the
// program, a collector in tests.
#ifndef FILEDIST_UPDATE_UPDATE_REPORTER_H
#define FILEDIST_UPDATE_UPDATE_REPORTER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "update/update_plan.h"

namespace update {

// What a plan's lines tell besides the version list's compressed sizes:
// the sizes the Manifest gives the files once installed (by path; empty
// where the release has none) and the binary patches chosen.
struct PlanSizes {
  std::map<std::string, uint64_t> installed;  // by path
  std::map<std::string, uint64_t> patches;    // patch bytes by path
  size_t patch_count = 0;                     // keys staged from a patch
  uint64_t patch_bytes = 0;                   // their patches' bytes
  uint64_t patched_whole_bytes = 0;           // and the compressed files' they stand for
};

// Where a run's messages go. Note lines say what was done (standard output
// in the program); Problem lines say what failed or was left alone.
class UpdateReporter {
 public:
  virtual ~UpdateReporter() = default;
  virtual void Note(const std::string& line) = 0;
  virtual void Problem(const std::string& line) = 0;
  // Progress of the fetching phase.
  virtual void BeginFetch(uint64_t /*bytes*/, int /*files*/) {}
  // The fetch brings bytes more than BeginFetch said: a patch failed and
  // its whole (larger) compressed file comes in its place.
  virtual void GrowFetch(uint64_t /*bytes*/) {}
  virtual void StartFile(const std::string& /*path*/) {}
  virtual void FileBytes(uint64_t /*received*/) {}
  virtual void FinishFile(const std::string& /*path*/, uint64_t /*size*/, bool /*ok*/) {}
  virtual void EndFetch() {}

  // What a dry run would do, as notes: each file to fetch, each no longer
  // in the release (removed with prune, else kept), with its sizes.
  virtual void ShowPlan(const UpdatePlan& plan, bool prune, const PlanSizes& sizes);
  // The summary after an apply: files fetched, the bytes the release lists
  // for them, the bytes that came over the network (0: not known), and the
  // patches among them.
  virtual void ShowFetched(size_t files, uint64_t listed_bytes, uint64_t received,
                           const std::string& location, const PlanSizes& sizes);
};

// "; N by patches of P in place of W", or nothing without patches.
std::string PatchSummary(const PlanSizes& sizes);

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_REPORTER_H

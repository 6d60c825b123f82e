// Where the update engine's messages and progress go: the terminal in the
// program, a collector in tests.
#ifndef FILEDIST_UPDATE_UPDATE_REPORTER_H
#define FILEDIST_UPDATE_UPDATE_REPORTER_H

#include <cstdint>
#include <string>

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
};

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_REPORTER_H

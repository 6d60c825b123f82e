// Placed files flushed by several threads: when the system gives fewer
// than asked, or none, every file is still flushed, each once.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/durability_observer.h"
#include "platform/file_safety.h"
#include "support/test_support.h"
#include "util/thread_start.h"

namespace {

class FlushCounter : public plat::DurabilityObserver {
 public:
  void Created(const std::string&, FILE*) override {}
  void FileSynced(FILE*) override {}
  void PathSynced(const std::string& path) override {
    std::lock_guard<std::mutex> hold(lock_);
    ++flushes[path];
  }
  void Renamed(const std::string&, const std::string&) override {}
  void Removed(const std::string&) override {}
  void DirectorySynced(const std::string&) override {}
  void FileSystemSynced(const std::string&) override {}

  std::map<std::string, int> flushes;

 private:
  std::mutex lock_;
};

TEST(Win32SyncFiles, EveryFileOnceWithTheThreadsTheSystemGives) {
  testing_support::ScratchDir scratch;
  std::vector<std::string> paths;
  // Enough files for several flushing threads.
  for (int i = 0; i < 130; ++i) {
    paths.push_back(scratch.Sub("f" + std::to_string(i)));
    testing_support::WriteFileBytes(paths.back(), std::to_string(i));
  }
  for (int given : {0, 1}) {
    SCOPED_TRACE(given);
    FlushCounter counter;
    plat::SetDurabilityObserver(&counter);
    util::LimitThreadStartsForTest(given);
    std::vector<std::string> failed = plat::SyncFiles(scratch.path(), paths);
    util::LimitThreadStartsForTest(-1);
    plat::SetDurabilityObserver(nullptr);
    EXPECT_TRUE(failed.empty());
    std::map<std::string, int> once;
    for (const std::string& path : paths) once[path] = 1;
    EXPECT_TRUE(counter.flushes == once);
  }
}

}  // namespace

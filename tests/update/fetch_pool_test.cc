// Download threads that the system refuses: every file is still fetched, by
// the threads it gave or by the caller alone, with a host's watch or
// without; the watch still runs on the caller's thread, and still cancels.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/gzip_oracle.h"
#include "support/release_tree.h"
#include "support/test_support.h"
#include "update/folder_fetcher.h"
#include "update/update_engine.h"
#include "util/thread_start.h"

namespace {

using testing_support::ScratchDir;
using testing_support::Tree;

class Collector : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { text += line + "\n"; }
  void Problem(const std::string& line) override { text += line + "\n"; }
  std::string text;
};

// The folder's bytes handed over slowly, so that a watch sees a transfer
// under way.
class SlowFetcher : public update::ReleaseFetcher {
 public:
  explicit SlowFetcher(const std::string& root) : folder_(root) {}
  std::string Location() const override { return folder_.Location(); }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override {
    update::FetchSink slow = [&](const char* data, size_t size) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      return sink(data, size);
    };
    return folder_.Fetch(parts, slow, error);
  }
  int delay_ms = 0;

 private:
  testing_support::FolderFetcher folder_;
};

// Stages the release into install with the watch and installs it; the
// watch's calls are counted and checked to come from this thread.
struct WatchedRun {
  int stage = -1;
  int install = -1;
  update::UpdateOutcome outcome;
  int calls = 0;
  bool elsewhere = false;
  std::string text;
};
WatchedRun RunWatched(const std::string& install, update::ReleaseFetcher* fetcher,
                      bool (*cancel)(uint64_t done, uint64_t total)) {
  WatchedRun run;
  Collector reporter;
  update::UpdateOptions options;
  options.install_dir = install;
  options.jobs = 4;
  update::InstallLock lock;
  if (lock.Take(install, &reporter, &run.outcome) != 0) return run;
  update::UpdateSteps steps(options, fetcher, &reporter, &run.outcome);
  const std::thread::id caller = std::this_thread::get_id();
  update::FetchWatch watch = [&](uint64_t done, uint64_t total, const std::string&) {
    ++run.calls;
    if (std::this_thread::get_id() != caller) run.elsewhere = true;
    return cancel(done, total);
  };
  if (steps.Check() == 0) {
    run.stage = steps.Stage(watch);
    if (run.stage == 0) run.install = steps.Install();
  }
  run.text = reporter.text;
  return run;
}

TEST(FetchPool, EveryFileIsFetchedWithTheThreadsTheSystemGives) {
  Tree tree;
  for (int i = 0; i < 6; ++i) {
    tree["f" + std::to_string(i) + ".txt"] = testing_support::TextLike(5000 + i, i);
  }
  for (int given : {0, 1}) {
    for (bool watched : {false, true}) {
      SCOPED_TRACE(std::to_string(given) + (watched ? " threads, watched" : " threads"));
      ScratchDir scratch;
      testing_support::WriteRelease(scratch.Sub("rel"), tree);
      std::string install = scratch.Sub("install");
      testing_support::MakeDirs(install);
      testing_support::FolderFetcher fetcher(scratch.Sub("rel"));
      util::LimitThreadStartsForTest(given);
      std::string text;
      if (!watched) {
        Collector reporter;
        update::UpdateOptions options;
        options.install_dir = install;
        options.jobs = 4;
        EXPECT_EQ(update::RunUpdate(options, &fetcher, &reporter), 0) << reporter.text;
        text = reporter.text;
      } else {
        WatchedRun run = RunWatched(install, &fetcher, [](uint64_t, uint64_t) { return false; });
        EXPECT_EQ(run.stage, 0) << run.text;
        EXPECT_EQ(run.install, 0) << run.text;
        EXPECT_GE(run.calls, 1);
        EXPECT_FALSE(run.elsewhere) << "the watch ran on a transfer's thread";
        text = run.text;
      }
      util::LimitThreadStartsForTest(-1);
      EXPECT_TRUE(testing_support::ReadInstall(install) == tree) << text;
    }
  }
}

TEST(FetchPool, WithoutThreadsTheWatchStillCancelsFromTheCaller) {
  const Tree tree = {{"big.bin", testing_support::RandomBytes(600000, 3)}};
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), tree);
  std::string install = scratch.Sub("install");
  testing_support::MakeDirs(install);
  SlowFetcher fetcher(scratch.Sub("rel"));
  fetcher.delay_ms = 2;
  util::LimitThreadStartsForTest(0);
  // Cancelled while the file arrives.
  WatchedRun run =
      RunWatched(install, &fetcher, [](uint64_t done, uint64_t total) { return done < total; });
  util::LimitThreadStartsForTest(-1);
  EXPECT_EQ(run.stage, 1) << run.text;
  EXPECT_EQ(run.outcome.failure, update::UpdateFailure::kCancelled) << run.text;
  EXPECT_TRUE(run.outcome.failed.empty()) << run.text;
  EXPECT_GE(run.calls, 1);
  EXPECT_FALSE(run.elsewhere) << "the watch ran on a transfer's thread";
  EXPECT_EQ(testing_support::ReadInstall(install), Tree()) << run.text;
}

}  // namespace

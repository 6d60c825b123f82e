// Patches that fail while several files download at once: each falls back
// to its whole file, and its warning reaches the reporter as every other
// line from a download thread does, one call at a time. A host's reporter
// (a terminal, a log, a window) is not made for calls from two threads at
// once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "signing/patch_index.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_support.h"
#include "update/folder_fetcher.h"
#include "update/update_engine.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;
using testing_support::Tree;

// Counts the calls that overlap another one. Each call lingers, so that a
// call made from a second thread without the pool's lock meets it.
class OverlapReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { Enter(line, false); }
  void Problem(const std::string& line) override { Enter(line, true); }
  void StartFile(const std::string&) override { Enter("", false); }
  void FileBytes(uint64_t) override { Enter("", false); }
  void FinishFile(const std::string&, uint64_t, bool) override { Enter("", false); }

  std::atomic<int> overlaps{0};
  int calls = 0;
  std::string text;

 private:
  void Enter(const std::string& line, bool linger) {
    if (++inside_ > 1) ++overlaps;
    ++calls;  // as a host's reporter keeps its state: without a lock of its own
    if (!line.empty()) {
      std::lock_guard<std::mutex> hold(text_lock_);
      text += line + "\n";
    }
    if (linger) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    --inside_;
  }
  std::atomic<int> inside_{0};
  std::mutex text_lock_;
};

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

TEST(DeltaFallback, SeveralFailingPatchesAreToldOneAtATime) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("packer"));
  const std::string packer = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
  // Four programs that deflate cannot shrink, each changed a little in the
  // second release: four patches.
  Tree first;
  Tree second;
  for (int i = 0; i < 4; ++i) {
    std::string name = "bin/app" + std::to_string(i) + ".bin";
    std::string bytes = testing_support::RandomBytes(200000, 10 + i);
    first[name] = bytes;
    second[name] = bytes.replace(1000, 16, "sixteen bytes v2");
  }
  std::vector<std::string> patch_dirs;
  for (const Tree* tree : {&first, &second}) {
    fs::remove_all(scratch.Sub("source"));
    for (const auto& [relative, bytes] : *tree) {
      fs::path path = fs::path(scratch.Sub("source")) / relative;
      fs::create_directories(path.parent_path());
      testing_support::WriteFileBytes(path.string(), bytes);
    }
    std::string output;
    ASSERT_EQ(testing_support::Run(
                  {packer, "build", scratch.Sub("source"), "--releases", scratch.Sub("releases")},
                  &output),
              0)
        << output;
    patch_dirs.push_back(testing_support::SplitLines(output).back());
  }
  ASSERT_TRUE(fs::exists(fs::path(patch_dirs[1]) / kPatchIndexName));

  const std::string install = scratch.Sub("install");
  testing_support::MakeDirs(install);
  {
    update::UpdateOptions options;
    options.install_dir = install;
    options.delta = false;
    testing_support::FolderFetcher fetcher(patch_dirs[0]);
    OverlapReporter reporter;
    ASSERT_EQ(update::RunUpdate(options, &fetcher, &reporter), 0) << reporter.text;
  }
  // Every patch is gone: each fails at once, on its own thread.
  fs::remove_all(fs::path(patch_dirs[1]) / kPatchFolderName);
  update::UpdateOptions options;
  options.install_dir = install;
  options.jobs = 4;
  testing_support::FolderFetcher fetcher(patch_dirs[1]);
  OverlapReporter reporter;
  ASSERT_EQ(update::RunUpdate(options, &fetcher, &reporter), 0) << reporter.text;
  EXPECT_EQ(Count(reporter.text, "; fetching the whole file"), 4) << reporter.text;
  EXPECT_EQ(reporter.overlaps, 0) << reporter.text;
  // Whole files came: the summary claims no patch.
  EXPECT_EQ(Count(reporter.text, "by patches"), 0) << reporter.text;
  EXPECT_TRUE(testing_support::ReadInstall(install) == second) << reporter.text;
}

}  // namespace

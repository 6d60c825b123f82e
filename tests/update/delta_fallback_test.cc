// Patches that fail while several files download at once: each falls back
// to its whole file, and its warning reaches the reporter as every other
// line from a download thread does, one call at a time. A host's reporter
// (a terminal, a log, a window) is not made for calls from two threads at
// once. And the host's progress, patches or not, counts in one unit and
// ends complete; a patch of a key that two paths share is told for its own
// path.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/patch_index.h"
#include "support/file_size_limit.h"
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

// Four programs that deflate cannot shrink, each changed a little in the
// second release: four patches.
void FourPrograms(Tree* first, Tree* second) {
  for (int i = 0; i < 4; ++i) {
    std::string name = "bin/app" + std::to_string(i) + ".bin";
    std::string bytes = testing_support::RandomBytes(200000, 10 + i);
    (*first)[name] = bytes;
    (*second)[name] = bytes.replace(1000, 16, "sixteen bytes v2");
  }
}

// Builds the releases first and second, with patches from the first in the
// second; *patch_dirs gets both patch directories, and each of installs the
// first release.
void MakeReleases(const ScratchDir& scratch, const Tree& first, const Tree& second,
                  const std::vector<std::string>& installs, std::vector<std::string>* patch_dirs) {
  testing_support::MakeDirs(scratch.Sub("packer"));
  const std::string packer = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
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
    patch_dirs->push_back(testing_support::SplitLines(output).back());
  }
  ASSERT_TRUE(fs::exists(fs::path((*patch_dirs)[1]) / kPatchIndexName));
  for (const std::string& install : installs) {
    testing_support::MakeDirs(install);
    update::UpdateOptions options;
    options.install_dir = install;
    options.delta = false;
    testing_support::FolderFetcher fetcher((*patch_dirs)[0]);
    OverlapReporter reporter;
    ASSERT_EQ(update::RunUpdate(options, &fetcher, &reporter), 0) << reporter.text;
  }
}

TEST(DeltaFallback, SeveralFailingPatchesAreToldOneAtATime) {
  ScratchDir scratch;
  const std::string install = scratch.Sub("install");
  Tree first;
  Tree second;
  FourPrograms(&first, &second);
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(MakeReleases(scratch, first, second, {install}, &patch_dirs));
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

// The host's watch is told done and total in what comes over: the patches'
// bytes where they make their files, a whole file's where a patch failed
// and it came instead (the total then grows by the difference). Either way
// no report passes its total and the last one is complete, rather than a
// bar that counts patch bytes against whole-file sizes and jumps at the end.
TEST(DeltaFallback, ProgressCountsWhatComesOver) {
  ScratchDir scratch;
  Tree first;
  Tree second;
  FourPrograms(&first, &second);
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(MakeReleases(
      scratch, first, second, {scratch.Sub("patched"), scratch.Sub("fallback")}, &patch_dirs));
  for (const char* name : {"patched", "fallback"}) {
    const bool fallback = std::string(name) == "fallback";
    // The index still offers the patches; they are gone when fetched.
    if (fallback) fs::remove_all(fs::path(patch_dirs[1]) / kPatchFolderName);
    update::UpdateOptions options;
    options.install_dir = scratch.Sub(name);
    options.jobs = 2;
    testing_support::FolderFetcher fetcher(patch_dirs[1]);
    OverlapReporter reporter;
    update::UpdateOutcome outcome;
    update::UpdateSteps steps(options, &fetcher, &reporter, &outcome);
    ASSERT_EQ(steps.Check(), 0) << reporter.text;
    EXPECT_EQ(outcome.patch_sizes.size(), 4u) << name;
    EXPECT_LT(outcome.expected_bytes, outcome.plan.fetch_bytes / 4) << name;
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    update::FetchWatch watch = [&](uint64_t done, uint64_t total, const std::string&) {
      reports.emplace_back(done, total);
      return false;
    };
    ASSERT_EQ(steps.Stage(watch), 0) << reporter.text;
    ASSERT_EQ(steps.Install(), 0) << reporter.text;
    EXPECT_TRUE(testing_support::ReadInstall(scratch.Sub(name)) == second) << name;
    ASSERT_FALSE(reports.empty()) << name;
    for (const auto& report : reports) EXPECT_LE(report.first, report.second) << name;
    EXPECT_EQ(reports.back().first, reports.back().second) << name;
    EXPECT_EQ(reports.back().second, fallback ? outcome.plan.fetch_bytes : outcome.expected_bytes)
        << name;
    EXPECT_EQ(outcome.patched.size(), fallback ? 0u : 4u) << name;
  }
}

// A host that cancels while patches come: a patch cut off by the cancel did
// not fail, so no warning says so, nothing is listed as patch_failed and no
// whole file is fetched in its place.
TEST(DeltaFallback, ACancelDuringPatchesIsNoFailedPatch) {
  // Slow to answer: the watch cancels before any patch is in.
  class SlowFetcher : public testing_support::FolderFetcher {
   public:
    using FolderFetcher::FolderFetcher;
    bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
               std::string* error) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      whole_files += parts.front() != kPatchFolderName;
      return FolderFetcher::Fetch(parts, sink, error);
    }
    std::atomic<int> whole_files{0};
  };
  ScratchDir scratch;
  Tree first;
  Tree second;
  FourPrograms(&first, &second);
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(
      MakeReleases(scratch, first, second, {scratch.Sub("install")}, &patch_dirs));
  update::UpdateOptions options;
  options.install_dir = scratch.Sub("install");
  options.jobs = 4;
  SlowFetcher fetcher(patch_dirs[1]);
  OverlapReporter reporter;
  update::UpdateOutcome outcome;
  update::UpdateSteps steps(options, &fetcher, &reporter, &outcome);
  ASSERT_EQ(steps.Check(), 0) << reporter.text;
  ASSERT_EQ(outcome.patch_sizes.size(), 4u);
  fetcher.whole_files = 0;
  update::FetchWatch watch = [](uint64_t, uint64_t, const std::string&) { return true; };
  EXPECT_EQ(steps.Stage(watch), 1) << reporter.text;
  EXPECT_EQ(outcome.failure, update::UpdateFailure::kCancelled) << reporter.text;
  EXPECT_EQ(Count(reporter.text, "fetching the whole file"), 0) << reporter.text;
  EXPECT_TRUE(outcome.patch_failed.empty()) << reporter.text;
  EXPECT_EQ(fetcher.whole_files, 0) << reporter.text;
}

// Two paths with one content, the first new and the second changed: the
// key is fetched once, by the patch from the second's installed content.
// The patch is told for the path it starts from, so that the summary and
// the outcome count it, and the progress counts it in place of that file.
TEST(DeltaFallback, PatchOfAKeyThatTwoPathsShare) {
  ScratchDir scratch;
  const std::string install = scratch.Sub("install");
  std::string bytes = testing_support::RandomBytes(200000, 30);
  const Tree first = {{"b/y.bin", bytes}};
  bytes.replace(1000, 16, "sixteen bytes v2");
  const Tree second = {{"a/x.bin", bytes}, {"b/y.bin", bytes}};
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(MakeReleases(scratch, first, second, {install}, &patch_dirs));
  update::UpdateOptions options;
  options.install_dir = install;
  testing_support::FolderFetcher fetcher(patch_dirs[1]);
  OverlapReporter reporter;
  update::UpdateOutcome outcome;
  update::UpdateSteps steps(options, &fetcher, &reporter, &outcome);
  ASSERT_EQ(steps.Check(), 0) << reporter.text;
  // The new path comes first, the one with the patch second.
  ASSERT_EQ(outcome.plan.fetch.size(), 2u);
  ASSERT_EQ(outcome.plan.fetch[1].record.path, outcome.patch_sizes.begin()->first);
  uint64_t done = 0;
  uint64_t total = 0;
  update::FetchWatch watch = [&](uint64_t bytes_done, uint64_t bytes_total, const std::string&) {
    done = bytes_done;
    total = bytes_total;
    return false;
  };
  ASSERT_EQ(steps.Stage(watch), 0) << reporter.text;
  ASSERT_EQ(steps.Install(), 0) << reporter.text;
  EXPECT_TRUE(testing_support::ReadInstall(install) == second) << reporter.text;
  EXPECT_EQ(outcome.patched, std::vector<std::string>{outcome.plan.fetch[1].record.path});
  EXPECT_EQ(Count(reporter.text, "1 by patches"), 1) << reporter.text;
  EXPECT_EQ(total, outcome.expected_bytes);
  EXPECT_EQ(done, total);
}

// The check reads an installed file whole only where a patch starts from a
// file of its length: one edited to another length is fetched whole without
// being keyed (a large file would hold the check up for as long as it
// takes to read), one edited within its length is keyed and matches none.
TEST(DeltaFallback, OnlyFilesOfAPatchsLengthAreKeyed) {
  ScratchDir scratch;
  const std::string install = scratch.Sub("install");
  Tree first;
  Tree second;
  FourPrograms(&first, &second);
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(MakeReleases(scratch, first, second, {install}, &patch_dirs));
  testing_support::WriteFileBytes((fs::path(install) / "bin/app0.bin").string(),
                                  first["bin/app0.bin"] + "longer");
  std::string same_length = first["bin/app1.bin"];
  same_length[5] ^= 1;
  testing_support::WriteFileBytes((fs::path(install) / "bin/app1.bin").string(), same_length);
  update::UpdateOptions options;
  options.install_dir = install;
  options.dry_run = true;
  testing_support::FolderFetcher fetcher(patch_dirs[1]);
  OverlapReporter reporter;
  update::UpdateOutcome outcome;
  ASSERT_EQ(update::RunUpdate(options, &fetcher, &reporter, &outcome), 0) << reporter.text;
  EXPECT_EQ(outcome.patch_keyed_files, 3u) << reporter.text;
  EXPECT_EQ(outcome.patch_sizes.size(), 2u) << reporter.text;
  EXPECT_EQ(outcome.patch_sizes.count("bin/app0.bin") + outcome.patch_sizes.count("bin/app1.bin"),
            0u)
      << reporter.text;
}

// A disk that refuses what is staged (here a file size limit, as a full
// disk does) fails the files with the system's reason: a patch's result
// that cannot be written is no failed patch, so no whole file is fetched
// into the same disk; and a large file, written on a thread of its own,
// still tells the reason that thread met.
TEST(DeltaFallback, ADiskThatRefusesTheFilesGivesTheSystemsReason) {
  class CountingFetcher : public testing_support::FolderFetcher {
   public:
    using FolderFetcher::FolderFetcher;
    bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
               std::string* error) override {
      whole_files += parts.front() != kPatchFolderName;
      return FolderFetcher::Fetch(parts, sink, error);
    }
    std::atomic<int> whole_files{0};
  };
  const struct {
    const char* name;
    bool large;      // one file written on the keyer's thread, else four patches
    uint64_t limit;  // the most bytes a file may have
  } cases[] = {{"patches", false, 100000}, {"large file", true, 1 << 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    const std::string install = scratch.Sub("install");
    Tree first;
    Tree second;
    FourPrograms(&first, &second);
    if (c.large) second["big.bin"] = testing_support::RandomBytes(9 << 20, 40);
    std::vector<std::string> patch_dirs;
    ASSERT_NO_FATAL_FAILURE(MakeReleases(scratch, first, second, {install}, &patch_dirs));
    update::UpdateOptions options;
    options.install_dir = install;
    options.jobs = 2;
    options.delta = !c.large;
    CountingFetcher fetcher(patch_dirs[1]);
    OverlapReporter reporter;
    update::UpdateOutcome outcome;
    update::UpdateSteps steps(options, &fetcher, &reporter, &outcome);
    ASSERT_EQ(steps.Check(), 0) << reporter.text;
    EXPECT_EQ(outcome.patch_sizes.size(), c.large ? 0u : 4u);
    fetcher.whole_files = 0;
    int staged = 0;
    {
      ScopedFileSizeLimit limit(c.limit);
      if (!limit.active()) GTEST_SKIP() << "no file size limit on this system";
      staged = steps.Stage(update::FetchWatch());
    }
    EXPECT_EQ(staged, 1) << reporter.text;
    EXPECT_EQ(outcome.failed.size(), c.large ? 1u : 4u) << reporter.text;
    EXPECT_EQ(Count(reporter.text, std::strerror(EFBIG)), c.large ? 1 : 4) << reporter.text;
    EXPECT_EQ(Count(reporter.text, "fetching the whole file"), 0) << reporter.text;
    if (!c.large) {
      EXPECT_EQ(fetcher.whole_files, 0) << reporter.text;
    }
  }
}

// A patch counts in the progress as its bytes arrive, and one stopped
// part-way (here by the host's cancel, which waits to see some of it) keeps
// what came: the next run asks for the rest alone.
TEST(DeltaFallback, APatchCountsAsItArrivesAndGoesOnWhereItStopped) {
  // Hands a patch over in pieces, and after the first waits (a few seconds
  // at most) for the cancel.
  class PatchPieces : public testing_support::FolderFetcher {
   public:
    using FolderFetcher::FolderFetcher;
    bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
               std::string* error) override {
      if (parts.front() != kPatchFolderName) return FolderFetcher::Fetch(parts, sink, error);
      std::string bytes;
      update::FetchSink gather = [&](const char* data, size_t size) {
        bytes.append(data, size);
        return true;
      };
      if (!FolderFetcher::Fetch(parts, gather, error)) return false;
      for (size_t at = 0; at < bytes.size(); at += 16) {
        if (at == 16) {
          for (int waited = 0; waited < 100 && wait_for_cancel && !cancelled; ++waited) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
        }
        if (!sink(bytes.data() + at, std::min<size_t>(16, bytes.size() - at))) {
          *error = "stopped";
          return false;
        }
      }
      return true;
    }
    bool FetchFrom(const std::vector<std::string>& parts, uint64_t offset,
                   const update::FetchSink& sink, std::string* error) override {
      if (parts.front() == kPatchFolderName) patch_offsets.push_back(offset);
      return ReleaseFetcher::FetchFrom(parts, offset, sink, error);
    }
    bool wait_for_cancel = true;
    std::atomic<bool> cancelled{false};
    std::vector<uint64_t> patch_offsets;
  };
  ScratchDir scratch;
  const std::string install = scratch.Sub("install");
  std::string bytes = testing_support::RandomBytes(200000, 50);
  const Tree first = {{"app.bin", bytes}};
  bytes.replace(1000, 16, "sixteen bytes v2");
  bytes.replace(90000, 16, "sixteen bytes v2");
  const Tree second = {{"app.bin", bytes}};
  std::vector<std::string> patch_dirs;
  ASSERT_NO_FATAL_FAILURE(MakeReleases(scratch, first, second, {install}, &patch_dirs));
  {
    update::UpdateOptions options;
    options.install_dir = install;
    PatchPieces fetcher(patch_dirs[1]);
    OverlapReporter reporter;
    update::UpdateOutcome outcome;
    update::UpdateSteps steps(options, &fetcher, &reporter, &outcome);
    ASSERT_EQ(steps.Check(), 0) << reporter.text;
    ASSERT_EQ(outcome.patch_sizes.size(), 1u) << reporter.text;
    ASSERT_GT(outcome.patch_bytes, 32u);
    update::FetchWatch watch = [&](uint64_t done, uint64_t, const std::string&) {
      // Some of the patch is in: counted before the whole of it is.
      if (done > 0) fetcher.cancelled = true;
      return done > 0;
    };
    EXPECT_EQ(steps.Stage(watch), 1) << reporter.text;
    EXPECT_TRUE(fetcher.cancelled) << reporter.text;
    EXPECT_EQ(outcome.failure, update::UpdateFailure::kCancelled) << reporter.text;
  }
  update::UpdateOptions options;
  options.install_dir = install;
  PatchPieces fetcher(patch_dirs[1]);
  fetcher.wait_for_cancel = false;
  OverlapReporter reporter;
  update::UpdateOutcome outcome;
  ASSERT_EQ(update::RunUpdate(options, &fetcher, &reporter, &outcome), 0) << reporter.text;
  EXPECT_TRUE(testing_support::ReadInstall(install) == second) << reporter.text;
  EXPECT_EQ(outcome.patched.size(), 1u) << reporter.text;
  ASSERT_EQ(fetcher.patch_offsets.size(), 1u) << reporter.text;
  EXPECT_GE(fetcher.patch_offsets[0], 16u) << reporter.text;
}

}  // namespace

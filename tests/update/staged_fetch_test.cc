// A file whose transfer was cut off part-way is gone on from by the next
// run, from where it stopped; what the cut-off run kept is taken up only
// where it leads to the file the release lists: kept bytes that were
// damaged since cost one fetch from the start, not a failed update.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_support.h"
#include "update/folder_fetcher.h"
#include "update/install_paths.h"
#include "update/update_engine.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::WriteFileBytes;

// Serves the release folder; while cut is set, the body of one file stops
// after that many bytes, as a dropped connection leaves it.
class CuttingFetcher : public update::ReleaseFetcher {
 public:
  CuttingFetcher(const std::string& root, std::string cut_file)
      : root_(root), folder_(root), cut_file_(std::move(cut_file)) {}
  std::string Location() const override { return root_; }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override {
    return FetchFrom(parts, 0, sink, error);
  }
  bool FetchFrom(const std::vector<std::string>& parts, uint64_t offset,
                 const update::FetchSink& sink, std::string* error) override {
    if (parts.back() != cut_file_) return folder_.Fetch(parts, sink, error);
    offsets.push_back(offset);
    std::string body = ReadFileBytes(root_ + "/" + cut_file_);
    size_t end = cut > 0 ? static_cast<size_t>(cut) : body.size();
    // Pieces of an odd size, as a network hands them over.
    for (size_t at = static_cast<size_t>(offset); at < end; at += 1021) {
      if (before_piece) before_piece(at);
      if (!sink(body.data() + at, std::min<size_t>(1021, end - at))) {
        *error = "refused";
        return false;
      }
    }
    if (cut > 0) *error = "the connection was reset";
    return cut == 0;
  }

  uint64_t cut = 0;
  std::vector<uint64_t> offsets;  // where each request for the file began
  std::function<void(uint64_t at)> before_piece;

 private:
  std::string root_;
  testing_support::FolderFetcher folder_;
  std::string cut_file_;
};

class Collector : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { text += line + "\n"; }
  void Problem(const std::string& line) override { text += line + "\n"; }
  std::string text;
};

int Update(const std::string& install, update::ReleaseFetcher* fetcher, std::string* output,
           const std::string& trusted_key = "") {
  Collector reporter;
  update::UpdateOptions options;
  options.install_dir = install;
  options.trusted_key = trusted_key;
  int status = update::RunUpdate(options, fetcher, &reporter);
  *output = reporter.text;
  return status;
}

std::string Flipped(std::string bytes) {
  EXPECT_FALSE(bytes.empty());
  if (!bytes.empty()) bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x5a);
  return bytes;
}

TEST(StagedFetch, CutOffTransferIsGoneOnFromOrFetchedAgain) {
  const std::string big =
      testing_support::TextLike(300000, 9) + testing_support::RandomBytes(50000, 2);
  const Tree tree = {{"a.txt", "alpha"}, {"big.txt", big}};
  const std::string key = testing_support::KeyOfBytes(big);
  const struct Case {
    const char* name;
    const char* damaged;  // the kept file changed before the next run, or ""
    bool goes_on;         // the next run asks for the rest only
  } cases[] = {
      {"kept as it was", "", true},
      {"decoded bytes damaged", ".part", false},
      {"compressed bytes damaged", ".download", false},
      {"its record damaged", ".resume", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    testing_support::WriteRelease(scratch.Sub("rel"), tree);
    std::string install = scratch.Sub("install");
    testing_support::MakeDirs(install);
    CuttingFetcher fetcher(scratch.Sub("rel"), "big.txt");
    uint64_t whole = ReadFileBytes(scratch.Sub("rel") + "/big.txt").size();
    fetcher.cut = whole / 2 + 17;
    std::string output;
    ASSERT_EQ(Update(install, &fetcher, &output), 1) << output;
    EXPECT_EQ(testing_support::ReadInstall(install), Tree()) << output;
    if (c.damaged[0] != '\0') {
      std::string kept = install + "/" + update::kStagingName + "/" + key + c.damaged;
      WriteFileBytes(kept, Flipped(ReadFileBytes(kept)));
    }
    fetcher.cut = 0;
    fetcher.offsets.clear();
    ASSERT_EQ(Update(install, &fetcher, &output), 0) << output;
    EXPECT_TRUE(testing_support::ReadInstall(install) == tree) << output;
    // Taken up, the transfer asks for the bytes after those kept; what was
    // damaged is found (before the fetch or by the key after it) and the
    // file fetched whole.
    const std::vector<uint64_t> rest = {whole / 2 + 17};
    if (c.goes_on) {
      EXPECT_EQ(fetcher.offsets, rest) << output;
    } else {
      ASSERT_FALSE(fetcher.offsets.empty());
      EXPECT_EQ(fetcher.offsets.back(), 0u) << output;
    }
  }
}

// A key's names are made without a look at them first when the staging
// folder held nothing of the key as the fetch began. Whatever is found at
// them (an earlier run's torn or stale entry, or one made while the file
// arrives, a link among them) is cleared or keyed, never taken unchecked or
// written through.
TEST(StagedFetch, WhatLiesAtAKeysNamesIsNeverTakenUnchecked) {
  namespace fs = std::filesystem;
  // Below and above the size that is decoded into memory before it is
  // written.
  const std::string small = testing_support::TextLike(6000, 3);
  const std::string large = testing_support::RandomBytes(600000, 4);
  const struct Case {
    const char* name;
    bool large;
    const char* suffix;  // the entry's name after the key
    bool during;         // made while the file arrives, not before the run
    bool link;           // a link to a file outside
    bool protect;        // a read-only file
  } cases[] = {
      {"a torn checked file of an earlier run", false, "", false, false, false},
      {"a part file of an earlier run without a record", false, ".part", false, false, false},
      {"a file at the checked name, made during the fetch", false, "", true, false, false},
      {"a link at the checked name, made during the fetch", false, "", true, true, false},
      {"a large file's checked name taken during the fetch", true, "", true, false, false},
      {"a large file's checked name protected during the fetch", true, "", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& bytes = c.large ? large : small;
    const Tree tree = {{"a.txt", "alpha"}, {"f.bin", bytes}};
    ScratchDir scratch;
    testing_support::WriteRelease(scratch.Sub("rel"), tree);
    std::string install = scratch.Sub("install");
    std::string staging = install + "/" + update::kStagingName;
    testing_support::MakeDirs(staging);
    std::string outside = scratch.Sub("outside");
    WriteFileBytes(outside, "outside");
    std::string entry = staging + "/" + testing_support::KeyOfBytes(bytes) + c.suffix;
    auto make = [&] {
      std::error_code error;
      if (c.link) {
        fs::create_symlink(outside, entry, error);
      } else {
        // The file's own beginning: a torn copy of it.
        WriteFileBytes(entry, bytes.substr(0, bytes.size() / 2));
        if (c.protect) fs::permissions(entry, fs::perms::owner_read, error);
      }
      return !error;
    };
    CuttingFetcher fetcher(scratch.Sub("rel"), "f.bin");
    bool made = false;
    if (c.during) {
      fetcher.before_piece = [&](uint64_t) {
        if (!made) made = make();
      };
    } else {
      made = make();
    }
    std::string output;
    ASSERT_EQ(Update(install, &fetcher, &output), 0) << output;
    if (c.link && !made) continue;  // no links on this system
    EXPECT_TRUE(made);
    EXPECT_TRUE(testing_support::ReadInstall(install) == tree) << output;
    EXPECT_EQ(ReadFileBytes(outside), "outside");
  }
}

// A run killed part-way through a large file leaves what it wrote down last
// of where to go on from: the next run asks for the rest from there.
TEST(StagedFetch, KilledRunLeavesWhereToGoOnFrom) {
  namespace fs = std::filesystem;
  // Random bytes: the compressed file is larger than the file itself.
  const Tree tree = {{"big.bin", testing_support::RandomBytes(20 << 20, 4)}};
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), tree);
  std::string first = scratch.Sub("first");
  std::string second = scratch.Sub("second");
  testing_support::MakeDirs(first);
  testing_support::MakeDirs(second);
  CuttingFetcher fetcher(scratch.Sub("rel"), "big.bin");
  // What a kill after 18 MiB would leave: the staging folder as it is then.
  const uint64_t killed_at = uint64_t{18} << 20;
  bool taken = false;
  fetcher.before_piece = [&](uint64_t at) {
    if (taken || at < killed_at) return;
    taken = true;
    fs::copy(fs::path(first) / update::kStagingName, fs::path(second) / update::kStagingName,
             fs::copy_options::recursive);
  };
  std::string output;
  ASSERT_EQ(Update(first, &fetcher, &output), 0) << output;
  ASSERT_TRUE(taken);
  fetcher.before_piece = nullptr;
  fetcher.offsets.clear();
  ASSERT_EQ(Update(second, &fetcher, &output), 0) << output;
  EXPECT_TRUE(testing_support::ReadInstall(second) == tree) << output;
  ASSERT_EQ(fetcher.offsets.size(), 1u) << output;
  EXPECT_GE(fetcher.offsets[0], uint64_t{16} << 20);
  EXPECT_LE(fetcher.offsets[0], killed_at);
}

// A host's session: the folder locked and the release checked, ready to stage.
struct HostSession {
  Collector reporter;
  update::UpdateOutcome outcome;
  update::InstallLock lock;
  std::unique_ptr<update::UpdateSteps> steps;
};

void BeginSession(const update::UpdateOptions& options, update::ReleaseFetcher* fetcher,
                  HostSession* session) {
  ASSERT_EQ(session->lock.Take(options.install_dir, &session->reporter, &session->outcome), 0)
      << session->reporter.text;
  session->steps.reset(
      new update::UpdateSteps(options, fetcher, &session->reporter, &session->outcome));
  ASSERT_EQ(session->steps->Check(), 0) << session->reporter.text;
}

// A host that cancels a download from its progress function: the transfer
// under way stops, nothing is installed, no file counts as failed, and the
// next download goes on from the bytes the cancelled one kept.
TEST(StagedFetch, CancelledDownloadKeepsWhatCameForTheNext) {
  const std::string big =
      testing_support::TextLike(300000, 5) + testing_support::RandomBytes(50000, 6);
  const Tree tree = {{"a.txt", "alpha"}, {"big.txt", big}};
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), tree);
  std::string install = scratch.Sub("install");
  testing_support::MakeDirs(install);
  CuttingFetcher fetcher(scratch.Sub("rel"), "big.txt");
  // Slow enough that the watch, ten times a second, sees the file arrive.
  fetcher.before_piece = [](uint64_t) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  };
  update::UpdateOptions options;
  options.install_dir = install;
  options.jobs = 1;
  const std::thread::id caller = std::this_thread::get_id();
  {
    HostSession first;
    ASSERT_NO_FATAL_FAILURE(BeginSession(options, &fetcher, &first));
    const std::string& text = first.reporter.text;
    int calls = 0;
    bool elsewhere = false;
    update::FetchWatch watch = [&](uint64_t done, uint64_t total, const std::string&) {
      ++calls;
      if (std::this_thread::get_id() != caller) elsewhere = true;
      // Cancelled in the middle of big.txt, well past the small file.
      return done > 4096 && done < total;
    };
    EXPECT_EQ(first.steps->Stage(watch), 1) << text;
    EXPECT_EQ(first.outcome.failure, update::UpdateFailure::kCancelled) << text;
    EXPECT_TRUE(first.outcome.failed.empty()) << text;
    EXPECT_GE(calls, 1);
    EXPECT_FALSE(elsewhere) << "the watch ran on a transfer's thread";
    EXPECT_EQ(testing_support::ReadInstall(install), Tree()) << text;
  }
  ASSERT_FALSE(fetcher.offsets.empty());
  fetcher.offsets.clear();
  // The server is slow to answer the rest: the host's first report must
  // already count what was kept, not start from nothing and jump later.
  bool answered = false;
  fetcher.before_piece = [&](uint64_t) {
    if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(400));
    answered = true;
  };
  HostSession second;
  ASSERT_NO_FATAL_FAILURE(BeginSession(options, &fetcher, &second));
  const std::string& text = second.reporter.text;
  std::vector<uint64_t> reports;
  update::FetchWatch watch = [&](uint64_t done, uint64_t, const std::string&) {
    reports.push_back(done);
    return false;
  };
  ASSERT_EQ(second.steps->Stage(watch), 0) << text;
  ASSERT_EQ(second.steps->Install(), 0) << text;
  EXPECT_TRUE(testing_support::ReadInstall(install) == tree) << text;
  ASSERT_EQ(fetcher.offsets.size(), 1u) << text;
  EXPECT_GT(fetcher.offsets[0], 0u) << "the next download started over: " << text;
  ASSERT_FALSE(reports.empty());
  EXPECT_GE(reports.front(), fetcher.offsets[0]) << "the first report left out the kept bytes";
}

// A signed release's large file, cut off and taken up: its SHA-256, made
// while it arrives, covers the bytes the cut-off run kept as well as those
// fetched after them, so the file matches the signed Manifest and is
// installed without being fetched again.
TEST(StagedFetch, SignedFileTakenUpMatchesItsManifest) {
  // Compressed to more than 8 MiB, so that its digests run on threads of
  // their own: random bytes after text.
  const std::string big =
      testing_support::TextLike(3 << 20, 7) + testing_support::RandomBytes(9 << 20, 8);
  ScratchDir scratch;
  std::string sep(1, testing_support::Sep());
  for (const char* dir : {"packer", "source", "install"})
    testing_support::MakeDirs(scratch.Sub(dir));
  WriteFileBytes(scratch.Sub("source") + sep + "big.bin", big);
  std::string packer = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
  std::string output;
  ASSERT_EQ(testing_support::Run({packer, "keygen", scratch.Sub("signer")}, &output), 0) << output;
  ASSERT_EQ(testing_support::Run({packer, "build", scratch.Sub("source"), "--releases",
                                  scratch.Sub("rel"), "--sign", scratch.Sub("signer.key")},
                                 &output),
            0)
      << output;
  std::string patch = testing_support::SplitLines(output).back();
  CuttingFetcher fetcher(patch, "big.bin");
  uint64_t whole = ReadFileBytes(patch + sep + "big.bin").size();
  ASSERT_GT(whole, uint64_t{8} << 20);
  fetcher.cut = whole / 2 + 17;
  std::string install = scratch.Sub("install");
  ASSERT_EQ(Update(install, &fetcher, &output, scratch.Sub("signer.pub")), 1) << output;
  fetcher.cut = 0;
  fetcher.offsets.clear();
  ASSERT_EQ(Update(install, &fetcher, &output, scratch.Sub("signer.pub")), 0) << output;
  EXPECT_NE(output.find("signed by the trusted key"), std::string::npos) << output;
  EXPECT_TRUE(testing_support::ReadInstall(install) == Tree({{"big.bin", big}})) << output;
  ASSERT_EQ(fetcher.offsets.size(), 1u) << output;
  EXPECT_GT(fetcher.offsets[0], 0u) << "the next download started over: " << output;
}

}  // namespace

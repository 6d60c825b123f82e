// An update stopped at every change it makes to the disk: right after the
// stop the client list vouches only for bytes its keys describe, and the
// next run finishes the job. FILEDIST_LONG_TESTS=1 stops it at every point;
// the default run at a handful spread over the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"
#include "support/release_tree.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadInstall;
using testing_support::ReadListKeys;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::UnmatchedRecords;
using testing_support::WriteRelease;

const Tree kOld = {
    {"a.txt", "alpha, the same in both"},
    {"b.txt", "bravo 1"},
    {"dir/c.bin", std::string(70000, 'c')},
    {"dir/sub/d.txt", "delta, the same in both"},
    {"gone.txt", "a file the new release drops"},
};

const Tree kNew = {
    {"a.txt", "alpha, the same in both"},
    {"b.txt", "bravo 2, longer than before"},
    {"dir/c.bin", std::string(50000, 'C') + "changed"},
    {"dir/sub/d.txt", "delta, the same in both"},
    {"new/e.txt", "echo: two paths with one key"},
    {"new/f.txt", "echo: two paths with one key"},
    {"g.txt", "golf"},
};

std::string Runner() {
  return testing_support::TestProgramDir() + testing_support::Sep() + "update_runner" +
         plat::kExecutableSuffix;
}

int RunUpdate(const std::string& install, const std::string& release,
              std::vector<std::string> extra, std::string* output) {
  std::vector<std::string> args = {Runner(), install, release, "--prune"};
  args.insert(args.end(), extra.begin(), extra.end());
  return testing_support::Run(args, output);
}

int PointsOf(const std::string& output) {
  size_t at = output.rfind("points: ");
  return at == std::string::npos ? 0 : std::atoi(output.c_str() + at + 8);
}

bool LongMode() {
  const char* value = std::getenv("FILEDIST_LONG_TESTS");
  return value != nullptr && value[0] == '1';
}

// Installs kOld into base and gives the number of changes an update from
// kOld to kNew makes.
int Prepare(const ScratchDir& scratch, const std::string& base) {
  WriteRelease(scratch.Sub("rel1"), kOld);
  WriteRelease(scratch.Sub("rel2"), kNew);
  testing_support::MakeDirs(base);
  std::string output;
  EXPECT_EQ(RunUpdate(base, scratch.Sub("rel1"), {}, &output), 0) << output;
  EXPECT_EQ(ReadInstall(base), kOld);
  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  EXPECT_EQ(RunUpdate(probe, scratch.Sub("rel2"), {}, &output), 0) << output;
  EXPECT_EQ(ReadInstall(probe), kNew);
  return PointsOf(output);
}

std::set<int> Stops(int points) {
  std::set<int> stops;
  if (LongMode()) {
    for (int n = 1; n <= points; ++n) stops.insert(n);
  } else {
    for (int i = 1; i <= 6; ++i) stops.insert(points * i / 6);
    stops.insert(1);
  }
  return stops;
}

// After the fault the list vouches only for what it describes; the next
// run ends at kNew with a list that records exactly it.
void ExpectFinishedByNextRun(const ScratchDir& scratch, const std::string& install,
                             const std::string& what) {
  EXPECT_EQ(UnmatchedRecords(install), "") << "right after " << what;
  std::string output;
  ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), {}, &output), 0) << what << "\n" << output;
  EXPECT_EQ(ReadInstall(install), kNew) << what;
  EXPECT_EQ(UnmatchedRecords(install), "") << what;
  std::set<std::string> expected;
  for (const auto& item : kNew) expected.insert(testing_support::ListPath(item.first));
  std::set<std::string> recorded;
  for (const auto& item : ReadListKeys(install + "/VerComp.dat")) recorded.insert(item.first);
  EXPECT_EQ(recorded, expected) << what;
  EXPECT_FALSE(fs::exists(install + "/.filedist-journal")) << what;
  EXPECT_FALSE(fs::exists(install + "/.filedist-staging")) << what;
}

TEST(UpdateCrash, EveryStopIsFinishedByTheNextRun) {
  ScratchDir scratch;
  std::string base = scratch.Sub("base");
  int points = Prepare(scratch, base);
  ASSERT_GE(points, 30);
  for (int n : Stops(points)) {
    std::string install = scratch.Sub("crash-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    std::string output;
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), {"--crash-at", std::to_string(n)}, &output),
              86)
        << "stop " << n << "\n" << output;
    ExpectFinishedByNextRun(scratch, install, "the stop at " + std::to_string(n));
    fs::remove_all(install);
  }
}

// The disk fills up at any point of an update: the run fails without the
// list vouching for wrong bytes, and the next run finishes the job.
TEST(UpdateCrash, FullDiskAtEveryPointIsFinishedByTheNextRun) {
  ScratchDir scratch;
  std::string base = scratch.Sub("base");
  int points = Prepare(scratch, base);
  for (int n : Stops(points)) {
    std::string install = scratch.Sub("full-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    std::string output;
    int status =
        RunUpdate(install, scratch.Sub("rel2"), {"--full-disk-at", std::to_string(n)}, &output);
    if (status == 87) GTEST_SKIP() << "this system cannot limit the size of files";
    EXPECT_TRUE(status == 0 || status == 1) << output;
    ExpectFinishedByNextRun(scratch, install, "a full disk at " + std::to_string(n));
    fs::remove_all(install);
  }
}

}  // namespace

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

TEST(UpdateCrash, EveryStopIsFinishedByTheNextRun) {
  ScratchDir scratch;
  WriteRelease(scratch.Sub("rel1"), kOld);
  WriteRelease(scratch.Sub("rel2"), kNew);
  std::string base = scratch.Sub("base");
  testing_support::MakeDirs(base);
  std::string output;
  ASSERT_EQ(RunUpdate(base, scratch.Sub("rel1"), {}, &output), 0) << output;
  ASSERT_EQ(ReadInstall(base), kOld);

  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  ASSERT_EQ(RunUpdate(probe, scratch.Sub("rel2"), {}, &output), 0) << output;
  ASSERT_EQ(ReadInstall(probe), kNew);
  int points = PointsOf(output);
  ASSERT_GE(points, 30) << output;

  std::set<int> stops;
  if (LongMode()) {
    for (int n = 1; n <= points; ++n) stops.insert(n);
  } else {
    for (int i = 1; i <= 6; ++i) stops.insert(points * i / 6);
    stops.insert(1);
  }
  std::set<std::string> new_paths;
  for (const auto& item : kNew) new_paths.insert(testing_support::ListPath(item.first));
  for (int n : stops) {
    std::string install = scratch.Sub("crash-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), {"--crash-at", std::to_string(n)}, &output),
              86)
        << "stop " << n << "\n" << output;
    EXPECT_EQ(UnmatchedRecords(install), "") << "right after the stop at " << n;

    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), {}, &output), 0)
        << "after the stop at " << n << "\n" << output;
    EXPECT_EQ(ReadInstall(install), kNew) << "after the stop at " << n;
    EXPECT_EQ(UnmatchedRecords(install), "") << "after the stop at " << n;
    std::set<std::string> recorded;
    for (const auto& item : ReadListKeys(install + "/VerComp.dat")) recorded.insert(item.first);
    EXPECT_EQ(recorded, new_paths) << "after the stop at " << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-journal")) << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-staging")) << n;
    fs::remove_all(install);
  }
}

}  // namespace

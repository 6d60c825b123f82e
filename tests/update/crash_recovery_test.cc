// An update stopped at every change it makes to the disk: right after the
// stop the client list vouches only for bytes its keys describe, and the
// next run finishes the job. FILEDIST_LONG_TESTS=1 stops it at every point;
// the default run at a handful spread over the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"
#include "support/release_tree.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::ReadInstall;
using testing_support::ReadListKeys;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::UnmatchedRecords;
using testing_support::WriteRelease;

const Tree kOld = {
    {"a.txt", "alpha, the same in both"},         {"b.txt", "bravo 1"},
    {"dir/c.bin", std::string(70000, 'c')},       {"dir/sub/d.txt", "delta, the same in both"},
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
        << "stop " << n << "\n"
        << output;
    ExpectFinishedByNextRun(scratch, install, "the stop at " + std::to_string(n));
    fs::remove_all(install);
  }
}

// The power fails at any point of an update: every file loses what this
// build's file system loses of unflushed data (support/power_cut_layer.h),
// and still the list vouches only for bytes its keys describe, and the next
// run finishes the job. A list written before the placed files were
// flushed would vouch for files of zeros.
TEST(UpdateCrash, PowerCutAtEveryPointIsFinishedByTheNextRun) {
  ScratchDir scratch;
  std::string base = scratch.Sub("base");
  int points = Prepare(scratch, base);
  int lost = 0;
  for (int n = 1; n <= points; ++n) {
    std::string install = scratch.Sub("cut-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    std::string output;
    ASSERT_EQ(
        RunUpdate(install, scratch.Sub("rel2"), {"--power-cut-at", std::to_string(n)}, &output), 86)
        << "cut " << n << "\n"
        << output;
    size_t at = output.find("power cut: ");
    ASSERT_NE(at, std::string::npos) << output;
    lost += std::atoi(output.c_str() + at + 11);
    ExpectFinishedByNextRun(scratch, install, "a power cut at " + std::to_string(n));
    fs::remove_all(install);
  }
  // The cuts during staging find files not yet flushed: a layer that saw no
  // file calls would make this test pass for nothing.
  EXPECT_GT(lost, 0);
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

// Two hundred files are placed by several threads at once, some sharing one
// key (placed one after another from copies of a checked file) and one file
// dropped: the whole run installs the release exactly, and a stop or a power
// cut at points spread over the placing is finished by the next run.
TEST(UpdateCrash, StopsWhileManyFilesArePlacedAtOnceAreFinishedByTheNextRun) {
  ScratchDir scratch;
  Tree old_tree;
  Tree new_tree;
  for (int i = 0; i < 200; ++i) {
    std::string path = "d" + std::to_string(i % 6) + "/s" + std::to_string(i % 4) + "/f" +
                       std::to_string(i) + ".txt";
    old_tree[path] = "old " + std::to_string(i);
    new_tree[path] = i % 40 == 0 ? std::string("bytes that five paths share")
                                 : "new " + std::to_string(i) + std::string(i, 'n');
  }
  old_tree["gone/g.txt"] = "a file the new release drops";
  WriteRelease(scratch.Sub("rel1"), old_tree);
  WriteRelease(scratch.Sub("rel2"), new_tree);
  const std::vector<std::string> jobs = {"--jobs", "4"};
  std::string base = scratch.Sub("base");
  testing_support::MakeDirs(base);
  std::string output;
  ASSERT_EQ(RunUpdate(base, scratch.Sub("rel1"), jobs, &output), 0) << output;
  ASSERT_EQ(ReadInstall(base), old_tree);
  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  ASSERT_EQ(RunUpdate(probe, scratch.Sub("rel2"), jobs, &output), 0) << output;
  ASSERT_EQ(ReadInstall(probe), new_tree);
  EXPECT_EQ(UnmatchedRecords(probe), "");
  EXPECT_EQ(ReadListKeys(probe + "/VerComp.dat").size(), new_tree.size());
  // The files are placed among the last few hundred changes of the run.
  int points = PointsOf(output);
  ASSERT_GT(points, 300);
  for (int back : {8, 50, 120, 190}) {
    for (const char* how : {"--crash-at", "--power-cut-at"}) {
      int n = points - back;
      std::string install = scratch.Sub("stop-" + std::to_string(n) + how);
      fs::copy(base, install, fs::copy_options::recursive);
      std::vector<std::string> args = jobs;
      args.insert(args.end(), {how, std::to_string(n)});
      ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), args, &output), 86)
          << how << " " << n << "\n"
          << output;
      std::string what = std::string(how) + " " + std::to_string(n);
      EXPECT_EQ(UnmatchedRecords(install), "") << "right after " << what;
      ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), jobs, &output), 0) << what << "\n"
                                                                           << output;
      EXPECT_EQ(ReadInstall(install), new_tree) << what;
      EXPECT_EQ(UnmatchedRecords(install), "") << what;
      EXPECT_EQ(ReadListKeys(install + "/VerComp.dat").size(), new_tree.size()) << what;
      EXPECT_FALSE(fs::exists(install + "/.filedist-journal")) << what;
      EXPECT_FALSE(fs::exists(install + "/.filedist-staging")) << what;
      fs::remove_all(install);
    }
  }
}

// The release replaces a library that the updating process itself has
// loaded, which on Windows is moved aside: a stop at any point of that
// update, the move included, is finished by the next run, and the old copy
// goes with it.
TEST(UpdateCrash, StopsAroundALibraryMovedAsideAreFinishedByTheNextRun) {
  ScratchDir scratch;
  bool windows = std::string(plat::kExecutableSuffix) == ".exe";
  std::string library = windows ? "common.dll" : "libcommon.so";
  std::string bytes =
      ReadFileBytes(testing_support::TestProgramDir() + testing_support::Sep() + library);
  const Tree old_tree = {{"a.txt", "alpha 1"}, {"lib/" + library, bytes}};
  const Tree new_tree = {{"a.txt", "alpha 2"}, {"lib/" + library, bytes + "\nversion 2"}};
  WriteRelease(scratch.Sub("rel1"), old_tree);
  WriteRelease(scratch.Sub("rel2"), new_tree);
  std::string base = scratch.Sub("base");
  testing_support::MakeDirs(base);
  std::string output;
  ASSERT_EQ(RunUpdate(base, scratch.Sub("rel1"), {}, &output), 0) << output;
  auto asides = [](const std::string& install) {
    int count = 0;
    for (const std::string& name : testing_support::NamesIn(install + "/lib")) {
      count += name.compare(0, 6, ".~old-") == 0;
    }
    return count;
  };

  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  ASSERT_EQ(RunUpdate(probe, scratch.Sub("rel2"), {"--hold", probe + "/lib/" + library}, &output),
            0)
      << output;
  // Moved aside on Windows; the copy goes with the next run.
  EXPECT_EQ(asides(probe), windows ? 1 : 0) << output;
  int points = PointsOf(output);
  // The files are placed in the second half of the run, after fetching;
  // FILEDIST_LONG_TESTS=1 stops the first half too.
  int stops_after_the_move = 0;
  for (int n = LongMode() ? 1 : points / 2; n <= points; ++n) {
    std::string install = scratch.Sub("held-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"),
                        {"--hold", install + "/lib/" + library, "--crash-at", std::to_string(n)},
                        &output),
              86)
        << "stop " << n << "\n"
        << output;
    EXPECT_EQ(UnmatchedRecords(install), "") << "right after the stop at " << n;
    stops_after_the_move += asides(install);
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel2"), {}, &output), 0) << n << "\n" << output;
    EXPECT_EQ(ReadInstall(install), new_tree) << "the stop at " << n;
    EXPECT_EQ(ReadListKeys(install + "/VerComp.dat").size(), new_tree.size()) << n;
    EXPECT_EQ(asides(install), 0) << "the stop at " << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-aside")) << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-journal")) << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-staging")) << n;
    fs::remove_all(install);
  }
  if (windows) {
    EXPECT_GT(stops_after_the_move, 0) << "no stop fell after the move aside";
  }
}

bool OwnerMayRun(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

// New files take their execute bits from the release's Manifest also when a
// stopped apply is finished by the next run, which has no Manifest at hand.
TEST(UpdateCrash, NewProgramsKeepTheirModeWhenAStoppedApplyIsFinished) {
  if (std::string(plat::kExecutableSuffix) == ".exe") GTEST_SKIP() << "Windows keeps no mode bits";
  ScratchDir scratch;
  const Tree tree = {{"bin/tool", "#!/bin/sh\necho tool\n"}, {"doc.txt", "text"}};
  WriteRelease(scratch.Sub("rel"), tree);
  // A client without a trusted key reads the Manifest only for the modes,
  // so the digests in it are not looked at.
  const std::string digest(64, '0');
  testing_support::WriteFileBytes(
      scratch.Sub("rel/Manifest"),
      "filedist-manifest 1\nsequence 1\nbuilt 2026-12-07T12:00:00Z\nvercomp " + digest +
          " 1\nver " + digest + " 1\nfile " + digest + " 19 39 x .\\bin\\tool\nfile " + digest +
          " 4 24 - .\\doc.txt\nend 2\n");
  std::string output;
  std::string probe = scratch.Sub("probe");
  testing_support::MakeDirs(probe);
  ASSERT_EQ(RunUpdate(probe, scratch.Sub("rel"), {}, &output), 0) << output;
  EXPECT_TRUE(OwnerMayRun(probe + "/bin/tool"));
  EXPECT_FALSE(OwnerMayRun(probe + "/doc.txt"));
  int points = PointsOf(output);
  ASSERT_GE(points, 5);
  for (int n = 1; n <= points; ++n) {
    std::string install = scratch.Sub("stop-" + std::to_string(n));
    testing_support::MakeDirs(install);
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel"), {"--crash-at", std::to_string(n)}, &output),
              86)
        << "stop " << n << "\n"
        << output;
    ASSERT_EQ(RunUpdate(install, scratch.Sub("rel"), {}, &output), 0) << output;
    EXPECT_EQ(ReadInstall(install), tree) << "stop " << n;
    EXPECT_TRUE(OwnerMayRun(install + "/bin/tool")) << "stop " << n;
    EXPECT_FALSE(OwnerMayRun(install + "/doc.txt")) << "stop " << n;
  }
}

// A release built with patches by the filedist program: the update applies
// a patch into the staging folder, and a stop at any change of that run
// (the patched file half written included) is finished by the next run.
TEST(UpdateCrash, StopsDuringAPatchedUpdateAreFinishedByTheNextRun) {
  ScratchDir scratch;
  std::string noise(120000, '\0');
  uint32_t seed = 7;
  for (char& c : noise) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  std::string edited = noise;
  edited.replace(60000, 12, "edited bytes");
  const Tree old_tree = {{"a.txt", "alpha 1"}, {"bin/app.bin", noise}};
  const Tree new_tree = {{"a.txt", "alpha 2"}, {"bin/app.bin", edited}, {"b.txt", "bravo"}};
  testing_support::MakeDirs(scratch.Sub("packer"));
  std::string packer = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
  std::string patch_dirs[2];
  const Tree* trees[2] = {&old_tree, &new_tree};
  for (int i = 0; i < 2; ++i) {
    std::string source = scratch.Sub("source" + std::to_string(i));
    for (const auto& [relative, bytes] : *trees[i]) {
      fs::create_directories((fs::path(source) / relative).parent_path());
      testing_support::WriteFileBytes(source + "/" + relative, bytes);
    }
    std::string output;
    ASSERT_EQ(testing_support::Run({packer, "build", source, "--releases", scratch.Sub("releases")},
                                   &output),
              0)
        << output;
    patch_dirs[i] = testing_support::SplitLines(output).back();
  }
  std::string base = scratch.Sub("base");
  testing_support::MakeDirs(base);
  std::string output;
  ASSERT_EQ(RunUpdate(base, patch_dirs[0], {}, &output), 0) << output;
  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  ASSERT_EQ(RunUpdate(probe, patch_dirs[1], {}, &output), 0) << output;
  ASSERT_NE(output.find("1 by patches of"), std::string::npos) << output;
  EXPECT_EQ(ReadInstall(probe), new_tree);
  int points = PointsOf(output);
  for (int n = 1; n <= points; ++n) {
    std::string install = scratch.Sub("stop-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    ASSERT_EQ(RunUpdate(install, patch_dirs[1], {"--crash-at", std::to_string(n)}, &output), 86)
        << "stop " << n << "\n"
        << output;
    EXPECT_EQ(UnmatchedRecords(install), "") << "right after the stop at " << n;
    ASSERT_EQ(RunUpdate(install, patch_dirs[1], {}, &output), 0) << n << "\n" << output;
    EXPECT_EQ(ReadInstall(install), new_tree) << "the stop at " << n;
    EXPECT_EQ(output.find("problem"), std::string::npos) << n << "\n" << output;
    EXPECT_FALSE(fs::exists(install + "/.filedist-journal")) << n;
    EXPECT_FALSE(fs::exists(install + "/.filedist-staging")) << n;
    fs::remove_all(install);
  }
}

}  // namespace

namespace {

// Builds tree with the real program into releases, signed with key, and
// gives the patch directory.
std::string BuildSigned(const ScratchDir& scratch, const std::string& filedist, const Tree& tree,
                        const std::string& name, const std::string& key) {
  std::string source = scratch.Sub("src-" + name);
  for (const auto& [relative, bytes] : tree) {
    std::string path = source + "/" + relative;
    testing_support::MakeDirs(fs::path(path).parent_path().string());
    testing_support::WriteFileBytes(path, bytes);
  }
  std::string output;
  EXPECT_EQ(
      testing_support::Run(
          {filedist, "build", source, "--releases", scratch.Sub("signed"), "--sign", key}, &output),
      0)
      << output;
  std::vector<std::string> lines = testing_support::SplitLines(output);
  return lines.empty() ? std::string() : lines.back();
}

}  // namespace

// The number that keeps older signed releases out never lags what is
// installed: stopped anywhere after a file of release 2 was placed, the
// folder refuses release 1 without --allow-downgrade.
TEST(UpdateCrash, ReleaseFloorNeverLagsWhatIsInstalled) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("packer"));
  std::string filedist = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
  std::string output;
  ASSERT_EQ(testing_support::Run({filedist, "keygen", scratch.Sub("signer")}, &output), 0)
      << output;
  std::string key = scratch.Sub("signer.pub");
  std::string patch1 = BuildSigned(scratch, filedist, kOld, "1", scratch.Sub("signer.key"));
  // Two builds within one second would share a patch name.
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  std::string patch2 = BuildSigned(scratch, filedist, kNew, "2", scratch.Sub("signer.key"));
  std::string base = scratch.Sub("base");
  testing_support::MakeDirs(base);
  ASSERT_EQ(RunUpdate(base, patch1, {"--trust", key}, &output), 0) << output;
  ASSERT_EQ(ReadInstall(base), kOld);
  std::string probe = scratch.Sub("probe");
  fs::copy(base, probe, fs::copy_options::recursive);
  ASSERT_EQ(RunUpdate(probe, patch2, {"--trust", key}, &output), 0) << output;
  int points = PointsOf(output);
  int changed_stops = 0;
  for (int n = LongMode() ? 1 : points / 2; n <= points; ++n) {
    std::string install = scratch.Sub("floor-" + std::to_string(n));
    fs::copy(base, install, fs::copy_options::recursive);
    ASSERT_EQ(
        RunUpdate(install, patch2, {"--trust", key, "--crash-at", std::to_string(n)}, &output), 86)
        << "stop " << n << "\n"
        << output;
    if (ReadInstall(install) == kOld) continue;
    ++changed_stops;
    EXPECT_EQ(ReadFileBytes(install + "/.filedist-release"), "sequence 2\n") << "stop " << n;
    EXPECT_EQ(RunUpdate(install, patch1, {"--trust", key}, &output), 1) << n << "\n" << output;
    fs::remove_all(install);
  }
  EXPECT_GT(changed_stops, 0) << "no stop fell after a file was placed";
}

// What a build refuses before it touches anything: overlapping directories,
// a second build on the same packer or release folder, a release folder that
// cannot be written.
#include "e2e/build_release_fixture.h"
#include "platform/file_lock.h"

namespace {

using namespace build_e2e;

// Every file below dir with its bytes, to show that nothing changed.
std::vector<std::pair<std::string, std::string>> Snapshot(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& relative : FilesBelow(dir)) {
    files.emplace_back(relative, ReadFileBytes(dir + Sep() + Native(relative)));
  }
  return files;
}

bool AnyLineHas(const Strings& lines, const std::string& a, const std::string& b) {
  for (const std::string& line : lines) {
    if (line.find(a) != std::string::npos && line.find(b) != std::string::npos) return true;
  }
  return false;
}

struct OverlapCase {
  const char* name;
  std::string source;    // relative to the scratch directory
  std::string out;       // --out
  std::string releases;  // --releases
  std::string inner;     // the two directories the error line names
  std::string outer;
};

class BuildOverlap : public BuildVerHost {
 protected:
  std::vector<OverlapCase> Cases() const {
    const std::string temp = "out/__CompressTemp__";
    std::vector<OverlapCase> cases = {
        {"release folder in the temporary tree", "src", "out", temp + "/rel", temp + "/rel", temp},
        {"source in the temporary tree", temp + "/src", "out", "rel", temp + "/src", temp},
        {"source is the temporary tree", temp, "out", "rel", temp, temp},
        {"release folder is the temporary tree", "src", "out", temp, temp, temp},
        {"temporary tree in an earlier release", "src", "rel/Patch_20090630_170509", "rel",
         "rel/Patch_20090630_170509/__CompressTemp__", "rel"},
        {"temporary tree in the release folder", "src", "rel", "rel", "rel/__CompressTemp__",
         "rel"},
        {"spelt with '..'", "src", "out", "out/x/../__CompressTemp__/rel", temp + "/rel", temp},
    };
    // Windows compares names without regard to case.
    if (Sep() == '\\') {
      cases.push_back({"other letter case", "src", "out", "OUT/__compresstemp__/rel",
                       "OUT/__compresstemp__/rel", temp});
    }
    return cases;
  }

  // Each case in a directory of its own, with a source that holds a file, an
  // earlier release and the files a build that went ahead would delete.
  std::string Prepare(size_t index, const OverlapCase& c) {
    std::string base = scratch_.Sub("case" + std::to_string(index));
    MakeDirs(base + Sep() + Native(c.source));
    WriteFileBytes(base + Sep() + Native(c.source) + Sep() + "keep.txt", "keep me");
    MakeDirs(base + Sep() + Native("rel/Patch_20090630_170509"));
    WriteFileBytes(base + Sep() + Native("rel/Patch_20090630_170509/a.txt"), "earlier release");
    fs::remove(Packer("BuildVer.log"));
    return base;
  }

  static std::string In(const std::string& base, const std::string& relative) {
    return base + Sep() + Native(relative);
  }

  // The error line names both directories as the build resolved them.
  void ExpectRefusal(const OverlapCase& c, const std::string& base) {
    Strings log = LogLinesWithoutTime(Packer("BuildVer.log"));
    ASSERT_EQ(log.size(), 1u) << c.name;
    EXPECT_EQ(log[0].compare(0, 10, "[ERROR] : "), 0) << log[0];
    std::string inner = In(base, c.inner);
    std::string outer = In(base, c.outer);
    EXPECT_TRUE(AnyLineHas(log, "[" + inner + "]", "[" + outer + "]")) << c.name << "\n" << log[0];
    EXPECT_FALSE(FileExists(Packer("VerComp.dat"))) << c.name;
  }
};

TEST_F(BuildOverlap, FiledistBuildRefusesOverlappingDirectoriesAndTouchesNothing) {
  std::vector<OverlapCase> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const OverlapCase& c = cases[i];
    std::string base = Prepare(i, c);
    auto before = Snapshot(base);
    std::string output;
    int status = testing_support::Run({program_, "build", In(base, c.source), "--out",
                                       In(base, c.out), "--releases", In(base, c.releases)},
                                      &output);
    EXPECT_EQ(status, 1) << c.name << "\n" << output;
    ExpectRefusal(c, base);
    EXPECT_EQ(Snapshot(base), before) << c.name;
  }
}

TEST_F(BuildOverlap, BuildVerRefusesThemTooWithRelativeArguments) {
  std::vector<OverlapCase> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    const OverlapCase& c = cases[i];
    std::string base = Prepare(i, c);
    auto before = Snapshot(base);
    // Relative to the host's directory, as hosts pass them.
    std::string up = "../case" + std::to_string(i) + "/";
    EXPECT_EQ(BuildVerInPacker(1, up + c.source, up + c.out, up + c.releases), "BUILD=0 ")
        << c.name;
    ExpectRefusal(c, base);
    EXPECT_EQ(Snapshot(base), before) << c.name;
  }
}

TEST_F(BuildOverlap, ASourceReachedThroughALinkIsRefusedToo) {
  if (Sep() == '\\') GTEST_SKIP() << "links to directories are a POSIX case here";
  MakeDirs(scratch_.Sub("out/__CompressTemp__/src"));
  WriteFileBytes(scratch_.Sub("out/__CompressTemp__/src/keep.txt"), "keep me");
  fs::create_directory_symlink(scratch_.Sub("out/__CompressTemp__/src"), scratch_.Sub("link"));
  std::string output;
  EXPECT_EQ(testing_support::Run(
                {program_, "build", scratch_.Sub("link"), "--out", scratch_.Sub("out")}, &output),
            1)
      << output;
  EXPECT_EQ(ReadFileBytes(scratch_.Sub("out/__CompressTemp__/src/keep.txt")), "keep me");
}

// A second build while one runs: the test holds the lock files as a running
// build would.
TEST_F(BuildVerHost, ASecondBuildOnTheSamePackerOrReleaseFolderStopsAtOnce) {
  MakeDirs(Packer("releases"));
  const struct {
    const char* name;
    std::string lock_file;
    std::string folder;
  } cases[] = {
      {"packer", Packer("BuildVer.lock"), packer_},
      {"release folder", Packer("releases/Release.lock"), Packer("releases")},
  };
  for (const auto& c : cases) {
    plat::FileLock running;
    ASSERT_EQ(running.Acquire(c.lock_file), plat::LockResult::kAcquired) << c.name;
    fs::remove(Packer("BuildVer.log"));
    std::string output;
    EXPECT_EQ(Build({}, &output), 1) << c.name << "\n" << output;
    EXPECT_NE(output.find("error: Another build is running"), std::string::npos)
        << c.name << output;
    Strings log = LogLinesWithoutTime(Packer("BuildVer.log"));
    ASSERT_EQ(log.size(), 1u) << c.name;
    EXPECT_TRUE(AnyLineHas(log, "[ERROR] : Another build is running", "[" + c.folder + "]"))
        << log[0];
    EXPECT_EQ(BuildVerInPacker(1, source_, ".", "releases"), "BUILD=0 ");
    // Told on standard error also when the log is off.
    EXPECT_EQ(Build({"--log-level", "0"}, &output), 1);
    EXPECT_NE(output.find("error: Another build is running"), std::string::npos) << output;
    EXPECT_FALSE(FileExists(Packer("VerComp.dat"))) << c.name;
    EXPECT_FALSE(FileExists(Packer("__CompressTemp__"))) << c.name;
  }
  // The locks went with the builds that held them: the next build runs, and
  // its lock files are not released with a tree that holds them.
  fs::remove(Packer("BuildVer.log"));
  std::string patch = BuildOk({"--out", source_, "--releases", Source("rel")});
  EXPECT_FALSE(FileExists(patch + Sep() + Native("rel/Release.lock")));
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")).find("lock"), std::string::npos);
  patch = BuildOk({});
  EXPECT_TRUE(FileExists(patch + Sep() + "a.txt"));

  // Moving the packer into the tree it releases is what the help warns
  // against, but a build there must not stumble over its own lock file
  // (which Windows will not let it read).
  std::string inner_packer = Source("packer");
  MakeDirs(inner_packer);
  std::string program = CopyProgramInto("filedist", inner_packer);
  std::string output;
  ASSERT_EQ(
      testing_support::Run({program, "build", source_, "--releases", scratch_.Sub("rel")}, &output),
      0)
      << output;
  std::string list = ReadFileBytes(inner_packer + Sep() + "VerComp.dat");
  EXPECT_EQ(list.find("BuildVer.lock"), std::string::npos) << list;
}

TEST_F(BuildVerHost, AReleaseFolderThatCannotBeWrittenStopsTheBuildBeforeTheWork) {
  // An earlier build's list, which a build that fails must leave alone.
  WriteFileBytes(Packer("VerComp.dat"), "earlier list");
  const struct {
    const char* name;
    std::string releases;
    std::string prepare;  // a file where a folder must go, or a read-only folder
  } cases[] = {
      {"a file in the way", Packer("blocked/releases"), Packer("blocked")},
      {"read-only folder", Packer("readonly"), ""},
  };
  for (const auto& c : cases) {
    if (!c.prepare.empty()) {
      WriteFileBytes(c.prepare, "a file");
    } else {
      MakeDirs(c.releases);
      fs::permissions(c.releases,
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
      // Windows and a superuser write into it all the same.
      std::string probe = c.releases + Sep() + "probe";
      if (std::FILE* f = std::fopen(probe.c_str(), "wb")) {
        std::fclose(f);
        fs::remove(probe);
        continue;
      }
    }
    fs::remove(Packer("BuildVer.log"));
    std::string output;
    EXPECT_EQ(Build({"--releases", c.releases, "--log-level", "3"}, &output), 1) << c.name << "\n"
                                                                                 << output;
    Strings log = LogLinesWithoutTime(Packer("BuildVer.log"));
    ASSERT_EQ(log.size(), 1u) << c.name;  // not one file was keyed
    EXPECT_EQ(log[0].compare(0, 10, "[ERROR] : "), 0) << log[0];
    EXPECT_NE(log[0].find(c.releases), std::string::npos) << log[0];
    // The log names the stage; the terminal gets what failed and why alone.
    EXPECT_NE(log[0].find(" in ["), std::string::npos) << log[0];
    EXPECT_EQ(output.find(" in ["), std::string::npos) << output;
    EXPECT_NE(output.find(c.releases), std::string::npos) << output;
    EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), "earlier list") << c.name;
    EXPECT_FALSE(FileExists(Packer("__CompressTemp__"))) << c.name;
    std::error_code ignored;
    fs::permissions(c.releases, fs::perms::owner_all, fs::perm_options::add, ignored);
  }
}

}  // namespace

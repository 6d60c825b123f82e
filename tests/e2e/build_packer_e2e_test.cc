// `filedist build` from an installed program: --packer names the folder for
// Filters.ini, VerComp.dat, Ver and BuildVer.log, a program folder that
// cannot be written stops the build at once naming --packer, and --quiet
// leaves only the patch directory on standard output.
#include <gtest/gtest.h>
#ifndef _WIN32
#  include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;

std::set<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names = testing_support::NamesIn(dir);
  return std::set<std::string>(names.begin(), names.end());
}

int RunProgram(const Strings& argv, std::string* output) {
  return testing_support::Run(argv, output);
}

bool CanWriteInto(const std::string& dir) {
  std::string probe = dir + testing_support::Sep() + "probe";
  FILE* file = std::fopen(probe.c_str(), "wb");
  if (file == nullptr) return false;
  std::fclose(file);
  fs::remove(probe);
  return true;
}

class BuildPacker : public ::testing::Test {
 protected:
  BuildPacker() {
    MakeDirs(Sub("bin"));
    program_ = CopyProgramInto("filedist", Sub("bin"));
    MakeDirs(Sub("src/data"));
    WriteFileBytes(Sub("src/data/a.txt"), "data a");
    WriteFileBytes(Sub("src/debug.pdb"), "symbols the filters leave out");
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  ScratchDir scratch_;
  std::string program_;
};

// The program's folder is left as it was: everything a build writes goes to
// the packer directory, and its Filters.ini is the one read.
TEST_F(BuildPacker, WritesItsFilesInThePackerDirectory) {
  MakeDirs(Sub("packer"));
  WriteFileBytes(Sub("packer/Filters.ini"), "[Ext]\n.pdb\n[File]\n[Keyword]\n");
  const std::set<std::string> before = NamesIn(Sub("bin"));
  std::string output;
  ASSERT_EQ(
      RunProgram({program_, "build", Sub("src"), "--packer", Sub("packer"), "--log-level", "3"},
                 &output),
      0)
      << output;
  EXPECT_EQ(NamesIn(Sub("bin")), before);
  for (const char* name : {"VerComp.dat", "Ver", "BuildVer.log", "BuildVer.lock", "releases"}) {
    EXPECT_TRUE(FileExists(Sub(std::string("packer/") + name))) << name;
  }
  std::string list = ReadFileBytes(Sub("packer/VerComp.dat"));
  EXPECT_NE(list.find("a.txt"), std::string::npos) << list;
  EXPECT_EQ(list.find("debug.pdb"), std::string::npos) << "Filters.ini was not read: " << list;
  Strings lines = SplitLines(output);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(fs::path(lines.back()).parent_path(), fs::path(Sub("packer/releases")));
  EXPECT_TRUE(FileExists(Sub("packer/releases/LATEST")));
}

// A program folder the build cannot write: no hours of keying before the
// failure, and the message says what to do.
TEST_F(BuildPacker, ProgramFolderThatCannotBeWrittenNamesPacker) {
  const fs::perms writable =
      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  fs::permissions(Sub("bin"), writable, fs::perm_options::remove);
  std::vector<std::string> prefix;
  if (CanWriteInto(Sub("bin"))) {
    // Root writes wherever it likes: run the program as nobody instead,
    // where the system lets a user namespace be made.
    std::string ignored;
    if (std::string(plat::kExecutableSuffix).empty() &&
        RunProgram({"/usr/bin/unshare", "--user", "/bin/true"}, &ignored) == 0) {
      prefix = {"/usr/bin/unshare", "--user"};
    } else {
      fs::permissions(Sub("bin"), fs::perms::owner_write, fs::perm_options::add);
      GTEST_SKIP() << "this user can write into a folder without write permission";
    }
  }
  Strings argv = prefix;
  argv.insert(argv.end(), {program_, "build", Sub("src"), "--releases", Sub("releases")});
  std::string output;
  int status = RunProgram(argv, &output);
  fs::permissions(Sub("bin"), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("--packer"), std::string::npos) << output;
  EXPECT_NE(output.find(Sub("bin")), std::string::npos) << output;
  EXPECT_FALSE(FileExists(Sub("releases"))) << "the build went ahead";
}

// --quiet: no progress, no per-file lines, no summary; the patch directory
// alone on standard output, so a script can take it.
// A Filters.ini that cannot be read stops the build, naming the file and
// why, rather than releasing what the filters would have left out.
TEST_F(BuildPacker, AFiltersFileThatCannotBeReadStopsTheBuild) {
  struct Case {
    const char* name;
    bool (*plant)(const std::string& path);
    const char* why;
  } cases[] = {
      {"a folder", [](const std::string& path) { return fs::create_directory(path); }, "folder"},
#ifndef _WIN32
      {"a named pipe", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; },
       "pipe"},
#endif
  };
  for (const Case& c : cases) {
    fs::remove_all(Sub("packer"));
    MakeDirs(Sub("packer"));
    ASSERT_TRUE(c.plant(Sub("packer/Filters.ini"))) << c.name;
    std::string output;
    EXPECT_EQ(RunProgram({program_, "build", Sub("src"), "--packer", Sub("packer")}, &output), 1)
        << c.name << ": " << output;
    EXPECT_NE(output.find("Filters.ini"), std::string::npos) << c.name << ": " << output;
    EXPECT_NE(output.find(c.why), std::string::npos) << c.name << ": " << output;
    EXPECT_FALSE(FileExists(Sub("packer/releases/LATEST"))) << c.name;
  }
}

TEST_F(BuildPacker, QuietPrintsThePatchDirectoryAlone) {
  std::string output;
  ASSERT_EQ(
      RunProgram({program_, "build", Sub("src"), "--packer", Sub("packer"), "--quiet"}, &output), 0)
      << output;
  Strings lines = SplitLines(output);
  ASSERT_EQ(lines.size(), 1u) << output;
  EXPECT_TRUE(fs::is_directory(lines[0])) << lines[0];
  EXPECT_EQ(
      RunProgram({program_, "build", Sub("src"), "--packer", Sub("packer"), "--quiet", "--verbose"},
                 &output),
      2)
      << output;
}

}  // namespace

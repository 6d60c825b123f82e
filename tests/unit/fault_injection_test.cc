// Faults from outside: a disk that fills up mid-write, a file that vanishes
// or cannot be read during a release. Each must end in a clear result and a
// log line, and must not lose what was there: the old client file and the
// old client list stay whole, and no half-written file takes a good one's
// place.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "fileio/io_util.h"
#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::RandomBytes;
using testing_support::LogLinesWithoutTime;
using testing_support::NamesIn;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

class FaultTest : public ::testing::Test {
 protected:
  FaultTest() : host_(CopyProgramInto("test_host", scratch_.path())) {}

  std::string RunHost(std::vector<std::string> steps) {
    steps.insert(steps.begin(), host_);
    std::string output;
    EXPECT_EQ(testing_support::Run(steps, &output), 0) << output;
    if (output.find("NOLIMIT") != std::string::npos) skipped_ = true;
    return output;
  }

  ScratchDir scratch_;
  std::string host_;
  bool skipped_ = false;
};

TEST_F(FaultTest, FullDiskLeavesTheOldClientFileWhole) {
  std::string source = scratch_.Sub("fetched.bin");
  WriteFileBytes(source, testing_support::ZlibGzip(RandomBytes(300000, 1)));
  testing_support::MakeDirs(scratch_.Sub("client"));
  std::string target = scratch_.Sub("client/app.dll");
  WriteFileBytes(target, "the installed version");
  std::string output = RunHost({"level", "1", "fsizelimit", "65536", "makeclient", source, target});
  if (skipped_) GTEST_SKIP() << "no file size limit on this system";
  EXPECT_NE(output.find("CLIENT=0"), std::string::npos) << output;
  EXPECT_EQ(ReadFileBytes(target), "the installed version");
  EXPECT_EQ(NamesIn(scratch_.Sub("client")), std::vector<std::string>{"app.dll"});
  EXPECT_FALSE(LogLinesWithoutTime(scratch_.Sub("BuildVer.log")).empty());
}

TEST_F(FaultTest, FullDiskLeavesTheOldClientListWhole) {
  std::string list;
  for (int i = 0; i < 3000; ++i) {
    list += ".\\data\\file" + std::to_string(i) + ".dat,00000000000000000000000000000000,10\r\n";
  }
  testing_support::MakeDirs(scratch_.Sub("lists"));
  std::string local = scratch_.Sub("lists/VerComp.dat");
  std::string fresh = scratch_.Sub("lists/new.dat");
  WriteFileBytes(local, list);
  WriteFileBytes(fresh, list);
  std::string output = RunHost({"updatelist", fresh, local, "fsizelimit", "65536", "updateclient",
                                ".\\data\\file7.dat", "900150983cd24fb0d6963f7d28e17f72", "10", local});
  if (skipped_) GTEST_SKIP() << "no file size limit on this system";
  EXPECT_NE(output.find("UPDATE=0"), std::string::npos) << output;
  EXPECT_EQ(ReadFileBytes(local), list);
  std::vector<std::string> names = NamesIn(scratch_.Sub("lists"));
  EXPECT_EQ(names, (std::vector<std::string>{"new.dat", "VerComp.dat"}));
}

TEST_F(FaultTest, FullDiskFailsTheReleaseWithItsLine) {
  testing_support::MakeDirs(scratch_.Sub("src"));
  WriteFileBytes(scratch_.Sub("src/big.bin"), RandomBytes(400000, 2));
  WriteFileBytes(scratch_.Sub("VerComp.dat"), "earlier release,key,1\r\n");
  std::string output =
      RunHost({"level", "1", "fsizelimit", "131072", "buildver", "src", "out", "releases"});
  if (skipped_) GTEST_SKIP() << "no file size limit on this system";
  EXPECT_NE(output.find("BUILD=0"), std::string::npos) << output;
  EXPECT_TRUE(Contains(LogLinesWithoutTime(scratch_.Sub("BuildVer.log")),
                       "[ERROR] : IOUtil_CompressFile From ["))
      << ReadFileBytes(scratch_.Sub("BuildVer.log"));
  EXPECT_EQ(ReadFileBytes(scratch_.Sub("VerComp.dat")), "earlier release,key,1\r\n");
  // The release folder is made before the work; no patch directory is.
  EXPECT_EQ(NamesIn(scratch_.Sub("releases")), std::vector<std::string>{"Release.lock"});
}

// A file that is found but cannot be read would be released under a key that
// is not its contents'; the release stops and says which file.
TEST_F(FaultTest, UnreadableSourceFileStopsTheRelease) {
  testing_support::MakeDirs(scratch_.Sub("src"));
  WriteFileBytes(scratch_.Sub("src/a.txt"), "a");
  std::string blocked = scratch_.Sub("src/busy.log");
  std::ofstream writer;
  if (plat::kPathSeparator == '\\') {
    // Windows refuses to key a file that another process is writing.
    writer.open(blocked, std::ios::binary);
    writer << "still being written";
    writer.flush();
  } else {
    // A named pipe is no file to release; opening it would wait forever.
    ASSERT_EQ(testing_support::Run({"/usr/bin/mkfifo", blocked}, nullptr), 0);
  }
  std::string output = RunHost({"level", "1", "buildver", "src", "out", "releases"});
  EXPECT_NE(output.find("BUILD=0"), std::string::npos) << output;
  EXPECT_EQ(LogLinesWithoutTime(scratch_.Sub("BuildVer.log")),
            std::vector<std::string>{"[ERROR] : Read [" + scratch_.Sub("src/busy.log") +
                                     "] failed in [CFileVersion::GenerateFileVersionInfo]"});
  EXPECT_FALSE(testing_support::FileExists(scratch_.Sub("out")));
}

// A file removed between the scan and its compression ends the release at
// that file; the compressed files made so far stay in the temporary tree.
TEST(FaultInRelease, FileVanishingBeforeCompressionFailsTheStage) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("src/sub"));
  WriteFileBytes(scratch.Sub("src/a.txt"), "a");
  WriteFileBytes(scratch.Sub("src/sub/gone.txt"), "soon gone");
  CFileVersion version;
  ASSERT_EQ(version.GenerateFileVersionInfo(scratch.Sub("src").c_str()), 1);
  ASSERT_EQ(version.scan_list().size(), 2u);
  ASSERT_TRUE(plat::RemoveFile(scratch.Sub("src/sub/gone.txt").c_str()));
  EXPECT_EQ(version.CompressFileVersionInfo(scratch.Sub("out").c_str()), 0);
  EXPECT_EQ(version.scan_list()[0].path, ".\\a.txt");  // handled before the failure
  EXPECT_EQ(ReadFileBytes(scratch.Sub("out/__CompressTemp__/a.txt")).substr(0, 2), "\x1f\x8b");
}

}  // namespace

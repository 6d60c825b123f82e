// Faults from outside: a disk that fills up mid-write, a file that vanishes
// or cannot be read during a release. Each must end in a clear result and a
// log line, and must not lose what was there: the old client file and the
// old client list stay whole, and no half-written file takes a good one's
// place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "common.h"
#include "fileio/io_util.h"
#include "platform/platform.h"
#include "support/file_size_limit.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::LogLinesWithoutTime;
using testing_support::NamesIn;
using testing_support::RandomBytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::StartupDirIn;
using testing_support::WriteFileBytes;

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// Each case runs the library as a host lying in the scratch directory would.
class FaultTest : public ::testing::Test {
 protected:
  int BuildVerHere(const char* source, const char* output, const char* releases) {
    char patch_dir[1024] = {};
    return BuildVer(source, output, releases, patch_dir);
  }

  ScratchDir scratch_;
  StartupDirIn host_{scratch_.path()};
};

TEST_F(FaultTest, FullDiskLeavesTheOldClientFileWhole) {
  std::string source = scratch_.Sub("fetched.bin");
  WriteFileBytes(source, testing_support::ZlibGzip(RandomBytes(300000, 1)));
  testing_support::MakeDirs(scratch_.Sub("client"));
  std::string target = scratch_.Sub("client/app.dll");
  WriteFileBytes(target, "the installed version");
  SetLogLevel(1);
  int made = 0;
  {
    ScopedFileSizeLimit limit(65536);
    if (!limit.active()) GTEST_SKIP() << "no file size limit on this system";
    made = MakeClientFile(source.c_str(), target.c_str());
  }
  EXPECT_EQ(made, 0);
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
  VersionEntry* records = nullptr;
  int count = 0;
  int total = 0;
  if (GenerateUpdateList(fresh.c_str(), local.c_str(), &records, &count, &total)) {
    FreeUpdateList(&records);
  }
  VersionEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  std::snprintf(entry.path, sizeof(entry.path), "%s", ".\\data\\file7.dat");
  std::snprintf(entry.key, sizeof(entry.key), "%s", "900150983cd24fb0d6963f7d28e17f72");
  entry.size = 10;
  int updated = 0;
  {
    ScopedFileSizeLimit limit(65536);
    if (!limit.active()) GTEST_SKIP() << "no file size limit on this system";
    updated = UpdateClientVersionInfo(local.c_str(), entry);
  }
  EXPECT_EQ(updated, 0);
  EXPECT_EQ(ReadFileBytes(local), list);
  std::vector<std::string> names = NamesIn(scratch_.Sub("lists"));
  EXPECT_EQ(names, (std::vector<std::string>{"new.dat", "VerComp.dat"}));
}

TEST_F(FaultTest, FullDiskFailsTheReleaseWithItsLine) {
  testing_support::MakeDirs(scratch_.Sub("src"));
  WriteFileBytes(scratch_.Sub("src/big.bin"), RandomBytes(400000, 2));
  WriteFileBytes(scratch_.Sub("VerComp.dat"), "earlier release,key,1\r\n");
  SetLogLevel(1);
  int built = -1;
  {
    ScopedFileSizeLimit limit(131072);
    if (!limit.active()) GTEST_SKIP() << "no file size limit on this system";
    built = BuildVerHere("src", "out", "releases");
  }
  EXPECT_EQ(built, 0);
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
    // Windows refuses to key a file that is open for writing.
    writer.open(blocked, std::ios::binary);
    writer << "still being written";
    writer.flush();
  } else {
    // A named pipe is no file to release; opening it would wait forever.
    ASSERT_EQ(testing_support::Run({"/usr/bin/mkfifo", blocked}, nullptr), 0);
  }
  SetLogLevel(1);
  EXPECT_EQ(BuildVerHere("src", "out", "releases"), 0);
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

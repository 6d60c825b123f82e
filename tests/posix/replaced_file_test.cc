// What a replaced file keeps on POSIX systems: its permission bits, and the
// symbolic link through which it was named.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "common.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(ReplacedFile, KeepsItsPermissionBits) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  WriteFileBytes(src, testing_support::ZlibGzip("#!/bin/sh\necho new\n"));
  // 0555 is opened up to be replaced, as a read-only file is on Windows.
  const mode_t cases[][2] = {{0755, 0755}, {0700, 0700}, {0640, 0640}, {0555, 0755}};
  for (const auto& c : cases) {
    std::string tool = scratch.Sub("tool" + std::to_string(c[0]) + ".sh");
    WriteFileBytes(tool, "#!/bin/sh\necho old\n");
    ASSERT_EQ(chmod(tool.c_str(), c[0]), 0);
    EXPECT_EQ(MakeClientFile(src.c_str(), tool.c_str()), 1) << std::oct << c[0];
    EXPECT_EQ(ReadFileBytes(tool), "#!/bin/sh\necho new\n");
    EXPECT_EQ(ModeOf(tool), c[1]) << std::oct << c[0];
  }
}

TEST(ReplacedFile, SymbolicLinkStaysALink) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("real"));
  std::string src = scratch.Sub("fetched.gz");
  std::string real = scratch.Sub("real/app.conf");
  std::string link = scratch.Sub("app.conf");
  WriteFileBytes(src, testing_support::ZlibGzip("new settings"));
  WriteFileBytes(real, "old settings");
  ASSERT_EQ(symlink("real/app.conf", link.c_str()), 0);
  EXPECT_EQ(MakeClientFile(src.c_str(), link.c_str()), 1);
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  EXPECT_EQ(ReadFileBytes(real), "new settings");
  EXPECT_EQ(testing_support::NamesIn(scratch.Sub("real")), std::vector<std::string>{"app.conf"});
}

}  // namespace

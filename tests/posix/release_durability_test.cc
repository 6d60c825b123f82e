// A build's patch directory is on the disk before LATEST names it, and
// LATEST itself is flushed before and after its rename: the system calls of
// `filedist build`, as strace(1) records them, show the order. POSIX only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

// Position of the first line at or after from that holds every one of
// words, or npos.
size_t FindLine(const std::vector<std::string>& lines, size_t from,
                const std::vector<std::string>& words) {
  for (size_t i = from; i < lines.size(); ++i) {
    bool all = true;
    for (const std::string& word : words) all = all && lines[i].find(word) != std::string::npos;
    if (all) return i;
  }
  return std::string::npos;
}

TEST(ReleaseDurability, PatchDirectoryAndLatestAreFlushedBeforeLatestNamesThem) {
  std::string output;
  if (testing_support::Run({"/bin/sh", "-c", "command -v strace"}, &output) != 0) {
    GTEST_SKIP() << "strace(1) is not installed";
  }
  std::string strace = testing_support::SplitLines(output).front();
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("packer"));
  testing_support::MakeDirs(scratch.Sub("src/sub"));
  std::string program = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
  WriteFileBytes(scratch.Sub("src/a.txt"), "alpha");
  WriteFileBytes(scratch.Sub("src/sub/b.txt"), std::string(50000, 'b'));
  std::string trace = scratch.Sub("trace");
  int status = testing_support::Run(
      {strace, "-f", "-qq", "-e", "trace=fsync,fdatasync,syncfs,sync,rename,renameat,renameat2",
       "-o", trace, program, "build", scratch.Sub("src"), "--releases", scratch.Sub("rel")},
      &output);
  if (status != 0 && output.find("ptrace") != std::string::npos) {
    GTEST_SKIP() << "this machine does not let strace trace: " << output;
  }
  ASSERT_EQ(status, 0) << output;
  std::vector<std::string> lines =
      testing_support::SplitLines(testing_support::ReadFileBytes(trace));
  size_t latest = FindLine(lines, 0, {"rename", "/LATEST\""});
  ASSERT_NE(latest, std::string::npos) << testing_support::ReadFileBytes(trace);
  // The patch directory's files (compressed files, lists, Manifest) reach
  // the disk first: one syncfs of its file system.
  size_t whole = FindLine(lines, 0, {"syncfs(", "= 0"});
  EXPECT_LT(whole, latest) << "nothing flushed the patch directory before LATEST named it";
  // The new LATEST is flushed before its rename, and the rename after it.
  size_t before = FindLine(lines, whole == std::string::npos ? 0 : whole + 1, {"fsync(", "= 0"});
  EXPECT_LT(before, latest) << "LATEST was renamed into place unflushed";
  EXPECT_NE(FindLine(lines, latest + 1, {"fsync(", "= 0"}), std::string::npos)
      << "the rename of LATEST was not flushed";
}

}  // namespace

// `filedist gzip` and `filedist gunzip`: exit statuses and one-line
// messages for every outcome of the engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"

#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

class CliGzipTest : public ::testing::Test {
 protected:
  CliGzipTest() : filedist_(CopyProgramInto("filedist", scratch_.path())) {}

  int Run(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), filedist_);
    return testing_support::Run(args, output);
  }
  std::string Path(const std::string& name) const { return scratch_.Sub(name); }

  ScratchDir scratch_;
  std::string filedist_;
};

TEST_F(CliGzipTest, CompressesAndExpandsAFile) {
  const std::string data = testing_support::TextLike(100000, 90);
  WriteFileBytes(Path("data.txt"), data);
  std::string output;
  ASSERT_EQ(Run({"gzip", Path("data.txt"), Path("data.gz")}, &output), 0) << output;
  EXPECT_EQ(output, "");
  std::string expanded;
  EXPECT_TRUE(testing_support::ZlibGunzip(ReadFileBytes(Path("data.gz")), &expanded));
  EXPECT_TRUE(expanded == data);
  ASSERT_EQ(Run({"gunzip", Path("data.gz"), Path("copy.txt")}, &output), 0) << output;
  EXPECT_TRUE(ReadFileBytes(Path("copy.txt")) == data);
}

TEST_F(CliGzipTest, FailuresGiveStatusAndMessage) {
  WriteFileBytes(Path("plain.txt"), "not compressed");
  std::string member = testing_support::ZlibGzip(testing_support::TextLike(5000, 91));
  member[member.size() - 8] ^= 1;  // wrong CRC
  WriteFileBytes(Path("bad.gz"), member);
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {{"gunzip", Path("plain.txt"), Path("out")}, 1, "not in gzip format"},
      {{"gunzip", Path("bad.gz"), Path("out")}, 1, "problem with zipping/unzipping operation : 1"},
      {{"gzip", Path("missing.txt"), Path("out.gz")}, 1, "cannot open source"},
      {{"gzip", Path("plain.txt"), Path("no/dir/out.gz")}, 1, "cannot open or create destination"},
      {{"gzip", Path("plain.txt"), Path("plain.txt")}, 2, "same file"},
      {{"gunzip", Path("plain.txt")}, 2, "usage: filedist gunzip SOURCE DEST"},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(Run(c.args, &output), c.status) << c.message;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
  }
}

// Concatenated members are one gzip file: every one is expanded.
TEST_F(CliGzipTest, GunzipExpandsEveryMember) {
  const std::string first = testing_support::TextLike(70000, 92);
  const std::string second = "and a second member";
  WriteFileBytes(Path("two.gz"), testing_support::ZlibGzip(first) +
                                     testing_support::ZlibGzip(second) +
                                     testing_support::ZlibGzip(""));
  std::string output;
  ASSERT_EQ(Run({"gunzip", Path("two.gz"), Path("two.txt")}, &output), 0) << output;
  EXPECT_TRUE(ReadFileBytes(Path("two.txt")) == first + second);
}

// A failure says so and leaves an existing DEST as it was, with nothing
// left beside it.
TEST_F(CliGzipTest, GunzipFailureLeavesDestAsItWas) {
  const std::string member = testing_support::ZlibGzip(testing_support::TextLike(50000, 93));
  std::string bad_crc = member;
  bad_crc[bad_crc.size() - 8] ^= 1;
  struct Case {
    const char* name;
    std::string source;
    const char* message;
  };
  const Case cases[] = {
      {"wrong CRC", bad_crc, "problem with zipping/unzipping operation"},
      {"cut short", member.substr(0, member.size() / 2), "filedist gunzip"},
      {"second member damaged", member + bad_crc, "after the first is damaged"},
      {"second member cut short", member + member.substr(0, 30), "after the first is damaged"},
      {"not gzip", "plain text", "not in gzip format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFileBytes(dir.Sub("in.gz"), c.source);
    WriteFileBytes(dir.Sub("dest.txt"), "precious");
    std::string output;
    EXPECT_EQ(Run({"gunzip", dir.Sub("in.gz"), dir.Sub("dest.txt")}, &output), 1) << output;
    EXPECT_NE(output.find(c.message), std::string::npos) << output;
    EXPECT_EQ(ReadFileBytes(dir.Sub("dest.txt")), "precious");
    EXPECT_EQ(testing_support::NamesIn(dir.path()),
              (std::vector<std::string>{"dest.txt", "in.gz"}));
  }
}

// A DEST that is a named pipe or a device (such as /dev/null, directly or
// through a link) is never replaced by a plain file: a run as root would
// otherwise leave the system without its device. Refused, and left as it was.
TEST_F(CliGzipTest, GunzipNeverReplacesAPipeOrDevice) {
  namespace fs = std::filesystem;
  if (std::string(plat::kExecutableSuffix) == ".exe") GTEST_SKIP() << "no Unix named pipes";
  WriteFileBytes(Path("in.gz"), testing_support::ZlibGzip("some text"));
  std::string output;
  ASSERT_EQ(testing_support::Run({"/usr/bin/mkfifo", Path("pipe")}, &output), 0) << output;
  fs::create_symlink(Path("pipe"), Path("to-pipe"));
  for (const char* dest : {"pipe", "to-pipe"}) {
    SCOPED_TRACE(dest);
    EXPECT_EQ(Run({"gunzip", Path("in.gz"), Path(dest)}, &output), 1) << output;
    EXPECT_NE(output.find("destination"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_fifo(Path("pipe")));
    EXPECT_TRUE(fs::is_symlink(Path("to-pipe")));
  }
}

}  // namespace

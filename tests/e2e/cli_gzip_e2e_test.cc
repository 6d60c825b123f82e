// `filedist gzip` and `filedist gunzip`: exit statuses and one-line
// messages for every outcome of the engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace

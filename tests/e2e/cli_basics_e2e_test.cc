// The filedist program's own surface: help on every command, keys, lists.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;

class CliTest : public ::testing::Test {
 protected:
  CliTest() : filedist_(CopyProgramInto("filedist", scratch_.path())) {}

  int Run(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), filedist_);
    return testing_support::Run(args, output);
  }

  ScratchDir scratch_;
  std::string filedist_;
};

// The command names listed by `filedist --help`.
std::vector<std::string> CommandNames(const std::string& usage) {
  std::vector<std::string> names;
  bool in_list = false;
  for (const std::string& line : SplitLines(usage)) {
    if (line == "commands:") {
      in_list = true;
    } else if (in_list && line.rfind("  ", 0) == 0) {
      std::istringstream words(line);
      std::string name;
      words >> name;
      names.push_back(name);
    } else if (in_list) {
      break;
    }
  }
  return names;
}

TEST_F(CliTest, EveryCommandAnswersHelp) {
  std::string usage;
  ASSERT_EQ(Run({"--help"}, &usage), 0);
  std::vector<std::string> names = CommandNames(usage);
  ASSERT_GE(names.size(), 2u) << usage;
  for (const std::string& name : names) {
    std::string help;
    EXPECT_EQ(Run({name, "--help"}, &help), 0) << name;
    EXPECT_NE(help.find("usage: filedist " + name), std::string::npos) << name << ": " << help;
  }
  std::string output;
  EXPECT_NE(Run({}, &output), 0);
  EXPECT_NE(Run({"no-such-command"}, &output), 0);
  EXPECT_NE(output.find("unknown command"), std::string::npos);
}

TEST_F(CliTest, KeyPrintsOneLinePerFileAndFailsOnUnreadableOnes) {
  WriteFileBytes(scratch_.Sub("a.txt"), "abc");
  WriteFileBytes(scratch_.Sub("empty"), "");
  std::string output;
  ASSERT_EQ(Run({"key", scratch_.Sub("a.txt"), scratch_.Sub("empty")}, &output), 0) << output;
  EXPECT_EQ(output, "MD5 (" + scratch_.Sub("a.txt") + ") = 900150983cd24fb0d6963f7d28e17f72\n"
                    "MD5 (" + scratch_.Sub("empty") + ") = d41d8cd98f00b204e9800998ecf8427e\n");
  EXPECT_EQ(Run({"key", scratch_.Sub("missing")}, &output), 1);
  EXPECT_NE(output.find("cannot read"), std::string::npos);
}

// Every file that cannot be keyed fails the command, and the files around it
// are still keyed. On Windows a file that another program is writing cannot
// be keyed either.
TEST_F(CliTest, KeyFailsForEachFileItCannotKeyAndKeysTheRest) {
  WriteFileBytes(scratch_.Sub("a.txt"), "abc");
  WriteFileBytes(scratch_.Sub("b.txt"), "");
  testing_support::MakeDirs(scratch_.Sub("folder"));
  struct Refused {
    std::string path;
    const char* reason;
  };
  std::vector<Refused> refused = {{scratch_.Sub("folder"), "is a directory"},
                                  {scratch_.Sub("missing"), "no such file"}};
  std::ofstream writer;
  if (plat::kPathSeparator == '\\') {
    writer.open(scratch_.Sub("busy.log"), std::ios::binary);
    writer << "still being written";
    writer.flush();
    refused.push_back({scratch_.Sub("busy.log"), "cannot be read"});
  }
  std::vector<std::string> args = {"key", scratch_.Sub("a.txt")};
  for (const Refused& r : refused) args.push_back(r.path);
  args.push_back(scratch_.Sub("b.txt"));
  std::string output;
  EXPECT_EQ(Run(args, &output), 1) << output;
  // Keys from RFC 1321's test suite.
  EXPECT_NE(output.find("MD5 (" + scratch_.Sub("a.txt") + ") = 900150983cd24fb0d6963f7d28e17f72\n"),
            std::string::npos) << output;
  EXPECT_NE(output.find("MD5 (" + scratch_.Sub("b.txt") + ") = d41d8cd98f00b204e9800998ecf8427e\n"),
            std::string::npos) << output;
  for (const Refused& r : refused) {
    EXPECT_NE(output.find("filedist: cannot read '" + r.path + "': " + r.reason), std::string::npos)
        << r.path << ": " << output;
  }
}

TEST_F(CliTest, ListPrintsTheRecordsAsATable) {
  WriteFileBytes(scratch_.Sub("VerComp.dat"),
                 ".\\bin\\app.exe,900150983cd24fb0d6963f7d28e17f72,23\r\n"
                 ".\\data\\a.txt,d41d8cd98f00b204e9800998ecf8427e,20\r\n");
  std::string output;
  ASSERT_EQ(Run({"list", scratch_.Sub("VerComp.dat")}, &output), 0) << output;
  std::vector<std::string> lines = SplitLines(output);
  ASSERT_EQ(lines.size(), 4u) << output;
  EXPECT_NE(lines[1].find("900150983cd24fb0d6963f7d28e17f72"), std::string::npos);
  EXPECT_NE(lines[1].find(".\\bin\\app.exe"), std::string::npos);
  EXPECT_NE(lines[2].find(" 20  .\\data\\a.txt"), std::string::npos);
  EXPECT_EQ(lines[3], "2 files, 43 bytes");
  EXPECT_EQ(Run({"list", scratch_.Sub("missing.dat")}, &output), 1);
}

}  // namespace

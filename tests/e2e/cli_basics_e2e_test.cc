// The filedist program's own surface: help on every command, keys, lists.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/json_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::ReadFileBytes;
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

// Entries the list command's temporary folders leave in the temporary
// directory.
size_t TemporariesOfList() {
  size_t count = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    if (entry.path().filename().string().rfind("filedist-list-", 0) == 0) ++count;
  }
  return count;
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
  // A mistyped command is answered with the one meant, not the whole help.
  const struct {
    const char* typed;
    const char* answer;
  } mistyped[] = {
      {"updte", "unknown command 'updte'; did you mean 'update'?\n"},
      {"verfiy", "unknown command 'verfiy'; did you mean 'verify'?\n"},
      {"no-such-command", "unknown command 'no-such-command'; 'filedist --help' lists"},
  };
  for (const auto& c : mistyped) {
    EXPECT_EQ(Run({c.typed}, &output), 2) << c.typed;
    EXPECT_NE(output.find(c.answer), std::string::npos) << output;
    EXPECT_EQ(output.find("usage:"), std::string::npos) << output;
  }
}

// Every command reads its options the same way: an unknown option is named,
// a missing value or a value given to a flag is a usage error (status 2),
// -h works like --help, "--opt=value" like "--opt value", and "--" makes
// what follows an operand even when it looks like an option.
TEST_F(CliTest, EveryCommandFollowsTheOptionConventions) {
  std::string usage;
  ASSERT_EQ(Run({"--help"}, &usage), 0);
  for (const std::string& name : CommandNames(usage)) {
    std::string output;
    EXPECT_EQ(Run({name, "--no-such-option", "x"}, &output), 2) << name;
    EXPECT_NE(output.find("unknown option '--no-such-option'"), std::string::npos)
        << name << ": " << output;
    EXPECT_EQ(Run({name, "-h"}, &output), 0) << name;
    EXPECT_NE(output.find("usage: filedist " + name), std::string::npos) << name;
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const Case cases[] = {
      {{"build", "src", "--out"}, 2, "option '--out' needs a value"},
      {{"build", "src", "--verbose=yes"}, 2, "option '--verbose' takes no value"},
      {{"build", "src", "--log-level=9"}, 2, "--log-level takes a number from 0 to 4"},
      {{"update", "--dir"}, 2, "option '--dir' needs a value"},
      {{"verify", "--dir=" + scratch_.Sub("nowhere"), "extra"}, 2, "verify takes no operands"},
      // After "--" a name that looks like an option is a file to key.
      {{"key", "--", "--help"}, 1, "cannot read '--help'"},
      {{"gzip", "--", "-in", "-out"}, 1, "cannot open source '-in'"},
  };
  for (const Case& c : cases) {
    std::string output;
    EXPECT_EQ(Run(c.args, &output), c.status)
        << c.args[0] << " " << c.args.back() << ": " << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << c.args[0] << ": " << output;
  }
  // The "=" form carries the value just as the spaced form does: only the
  // folder it names holds a (empty) client list, the program's own does not.
  testing_support::MakeDirs(scratch_.Sub("installed"));
  WriteFileBytes(scratch_.Sub("installed/VerComp.dat"), "");
  std::string output;
  EXPECT_EQ(Run({"verify", "--dir=" + scratch_.Sub("installed")}, &output), 0) << output;
}

TEST_F(CliTest, KeyPrintsOneLinePerFileAndFailsOnUnreadableOnes) {
  WriteFileBytes(scratch_.Sub("a.txt"), "abc");
  WriteFileBytes(scratch_.Sub("empty"), "");
  std::string output;
  ASSERT_EQ(Run({"key", scratch_.Sub("a.txt"), scratch_.Sub("empty")}, &output), 0) << output;
  EXPECT_EQ(output, "MD5 (" + scratch_.Sub("a.txt") +
                        ") = 900150983cd24fb0d6963f7d28e17f72\n"
                        "MD5 (" +
                        scratch_.Sub("empty") + ") = d41d8cd98f00b204e9800998ecf8427e\n");
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
            std::string::npos)
      << output;
  EXPECT_NE(output.find("MD5 (" + scratch_.Sub("b.txt") + ") = d41d8cd98f00b204e9800998ecf8427e\n"),
            std::string::npos)
      << output;
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

// The list stores 32 bits of a size: one of 2 GiB and more reads back
// negative, and is shown as the unsigned count it stands for.
TEST_F(CliTest, ListShowsSizesOf2GiBAndMoreUnsigned) {
  WriteFileBytes(scratch_.Sub("VerComp.dat"),
                 ".\\big.bin,900150983cd24fb0d6963f7d28e17f72,-1294967296\r\n"
                 ".\\bigger.bin,d41d8cd98f00b204e9800998ecf8427e,-1\r\n");
  std::string output;
  ASSERT_EQ(Run({"list", scratch_.Sub("VerComp.dat")}, &output), 0) << output;
  std::vector<std::string> lines = SplitLines(output);
  ASSERT_EQ(lines.size(), 4u) << output;
  EXPECT_NE(lines[1].find(" 3000000000  .\\big.bin"), std::string::npos) << output;
  EXPECT_NE(lines[2].find(" 4294967295  .\\bigger.bin"), std::string::npos) << output;
  EXPECT_EQ(lines[3], "2 files, 7294967295 bytes");
  if (!testing_support::CanRunPython()) GTEST_SKIP() << "python3 cannot be started here";
  std::string json;
  std::string errors;
  ASSERT_EQ(testing_support::RunApart({filedist_, "list", "--json", scratch_.Sub("VerComp.dat")},
                                      &json, &errors),
            0)
      << errors;
  EXPECT_EQ(testing_support::CheckJson(json, R"(
assert [f['size'] for f in d['files']] == [3000000000, 4294967295], d
assert d['bytes'] == 7294967295, d
)"),
            "");
}

// A version list has at most kMostListLines lines of 1023 characters: a gzip
// bomb stops there instead of being decoded into gigabytes.
TEST_F(CliTest, ListRefusesWhatNoVersionListCanHold) {
  const std::string line = ".\\a,900150983cd24fb0d6963f7d28e17f72,1\r\n";
  std::string many;
  for (int i = 0; i <= (1 << 18); ++i) many += line;
  // Concatenated members of one compressed block of lines: 384 MiB decoded.
  std::string block;
  while (block.size() < (8u << 20)) block += line;
  std::string member = testing_support::ZlibGzip(block);
  std::string bomb;
  for (int i = 0; i < 48; ++i) bomb += member;
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"one line too many", testing_support::ZlibGzip(many), "more than 262144 lines"},
      {"gzip bomb", bomb, "holds more than 268697600 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string output;
    const std::string path = scratch_.Sub("case.dat");
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(Run({"list", path}, &output), 1) << output.substr(0, 300);
    EXPECT_NE(output.find(c.message), std::string::npos) << output.substr(0, 300);
  }
}

// A release's own VerComp.dat is gzip; list reads it as a client does. What
// is not a version list, compressed or not, is refused rather than listed.
TEST_F(CliTest, ListReadsACompressedListAndRefusesWhatIsNoList) {
  testing_support::MakeDirs(scratch_.Sub("src/sub"));
  WriteFileBytes(scratch_.Sub("src/a.txt"), "abc");
  WriteFileBytes(scratch_.Sub("src/sub/b.txt"), testing_support::TextLike(5000, 3));
  std::string output;
  ASSERT_EQ(Run({"build", scratch_.Sub("src"), "--releases", scratch_.Sub("rel")}, &output), 0)
      << output;
  std::vector<std::string> patches;
  for (const std::string& name : testing_support::NamesIn(scratch_.Sub("rel"))) {
    if (name.rfind("Patch_", 0) == 0) patches.push_back(name);
  }
  ASSERT_EQ(patches.size(), 1u);
  const std::string compressed = scratch_.Sub("rel/" + patches[0] + "/VerComp.dat");
  std::string plain_text;
  ASSERT_TRUE(testing_support::ZlibGunzip(ReadFileBytes(compressed), &plain_text));
  WriteFileBytes(scratch_.Sub("plain.dat"), plain_text);

  std::string expected;
  ASSERT_EQ(Run({"list", scratch_.Sub("plain.dat")}, &expected), 0) << expected;
  ASSERT_EQ(SplitLines(expected).size(), 4u) << expected;  // heading, two files, total
  const size_t temporaries = TemporariesOfList();
  EXPECT_EQ(Run({"list", compressed}, &output), 0) << output;
  EXPECT_EQ(output, expected);
  EXPECT_EQ(TemporariesOfList(), temporaries) << "the decompressed copy is left behind";

  const std::string good_line = ".\\a.txt,900150983cd24fb0d6963f7d28e17f72,23\r\n";
  const std::string bytes = ReadFileBytes(compressed);
  struct Case {
    const char* what;
    std::string bytes;
    std::string message;
  };
  const Case cases[] = {
      {"binary", testing_support::RandomBytes(3000, 5), "is not a version list: line "},
      {"compressed binary", testing_support::ZlibGzip(testing_support::RandomBytes(3000, 6)),
       "is not a version list: line "},
      {"words", "hello, world\r\n", "is not a version list: line 1 is not path,key,size"},
      {"key not hex", good_line + ".\\b.txt,not-a-key,3\r\n",
       "is not a version list: line 2 is not path,key,size"},
      {"size not a number", good_line + ".\\b.txt,900150983cd24fb0d6963f7d28e17f72,3x\r\n",
       "is not a version list: line 2 is not path,key,size"},
      {"no path", ",900150983cd24fb0d6963f7d28e17f72,3\r\n",
       "is not a version list: line 1 is not path,key,size"},
      {"control bytes",
       good_line + std::string(".\\b\x01.txt,900150983cd24fb0d6963f7d28e17f72,3\r\n"),
       "is not a version list: line 2 holds binary data"},
      {"line too long", std::string(2000, 'a') + ",900150983cd24fb0d6963f7d28e17f72,3\r\n",
       "is not a version list: line 1 is longer than 1023 characters"},
      {"cut-off compressed list", bytes.substr(0, bytes.size() - 6),
       "is damaged or cannot be read"},
  };
  for (const Case& c : cases) {
    const std::string path = scratch_.Sub("case.dat");
    WriteFileBytes(path, c.bytes);
    EXPECT_EQ(Run({"list", path}, &output), 1) << c.what << ": " << output;
    EXPECT_NE(output.find("filedist: '" + path + "' " + c.message), std::string::npos)
        << c.what << ": " << output;
    EXPECT_EQ(output.find(" files, "), std::string::npos) << c.what << ": " << output;
  }
}

}  // namespace

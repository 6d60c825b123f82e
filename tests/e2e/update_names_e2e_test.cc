// Release lists whose names the client's file system cannot hold as listed:
// a NUL that cuts a name short, names Windows takes for one file, Windows
// devices. Each is refused before a file is fetched, nothing installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;
using testing_support::ZlibGzip;
using Strings = std::vector<std::string>;

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

// A release folder whose list holds the given paths verbatim, each with the
// key and size of attack.gz, the one file the folder serves for all of them.
std::string ListedRelease(const std::string& dir, const Strings& paths) {
  fs::create_directories(dir);
  const std::string content = "an attacker's trusted key";
  std::string gz = ZlibGzip(content);
  std::string list;
  for (const std::string& path : paths) {
    list += path + "," + testing_support::KeyOfBytes(content) + "," + std::to_string(gz.size()) +
            "\r\n";
  }
  // Where a name cut at its NUL leads.
  WriteFileBytes(dir + "/filedist.pub", gz);
  WriteFileBytes(dir + "/VerComp.dat", ZlibGzip(list));
  WriteFileBytes(dir + "/Ver", ZlibGzip(testing_support::KeyOfBytes(list) + "\r\n"));
  return dir;
}

TEST(UpdateNames, NamesTheClientCannotHoldAreRefusedBeforeFetching) {
  struct Case {
    Strings paths;
    std::string words;  // what the refusal says
    bool everywhere;    // false: refused by Windows clients only
  };
  const std::vector<Case> cases = {
      {{std::string(".\\filedist.pub\0x", 16)}, "filedist.pub\\x00x', which holds a NUL", true},
      {{".\\data\\x.txt", std::string(".\\data\\b\0\\x.txt", 15)}, "b\\x00\\x.txt", true},
      {{".\\a.txt", "a.txt"}, "same file as '.\\a.txt'", true},
      {{".\\a.txt", ".\\A.txt"}, "same file as '.\\a.txt'", false},
      {{".\\b.txt", ".\\b.txt."}, "ends in a dot", false},
      {{".\\c.txt "}, "ends in a dot or a space", false},
      {{".\\Dir\\d.txt", ".\\dir\\D.TXT"}, "same file as '.\\Dir\\d.txt'", false},
      {{".\\aux.txt"}, "Windows device", false},
      {{".\\logs\\com1.log"}, "Windows device", false},
      {{".\\CON"}, "Windows device", false},
      {{".\\nul"}, "Windows device", false},
      {{".\\conout$"}, "Windows device", false},
      {{".\\lpt9.tar.gz"}, "Windows device", false},
      {{".\\a|b.txt"}, "'|'", false},
      // Short names: Wine's for .filedist-release, and the form Windows gives it.
      {{".\\_FIL~CRR"}, "short (8.3) name", false},
      {{".\\FILEDI~1"}, "short (8.3) name", false},
      {{".\\data\\PROGRA~1.TXT"}, "short (8.3) name", false},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    if (!c.everywhere && !IsWindowsProgram()) continue;
    SCOPED_TRACE(c.paths.back());
    ScratchDir scratch;
    std::string client = scratch.Sub("client");
    testing_support::MakeDirs(client);
    std::string program = testing_support::CopyProgramInto("filedist", client);
    std::string release = ListedRelease(scratch.Sub("rel"), c.paths);
    std::string output;
    EXPECT_EQ(testing_support::Run({program, "update", release}, &output), 1) << output;
    EXPECT_NE(output.find(c.words), std::string::npos) << output;
    EXPECT_NE(output.find("nothing was installed"), std::string::npos) << output;
    // Nothing fetched: no file placed, nothing staged.
    EXPECT_FALSE(FileExists(client + "/filedist.pub"));
    EXPECT_EQ(
        testing_support::ReadInstall(client, std::string("filedist") + plat::kExecutableSuffix),
        testing_support::Tree());
  }
}

// `verify` opens no file the installed list names in a way this system
// cannot hold (a device would be read from, a path out of the folder would
// be keyed), and a folder that lists one is not as the list says.
TEST(UpdateNames, VerifyFailsOnNamesTheClientCannotHold) {
  struct Case {
    std::string path;
    bool everywhere;  // false: refused by Windows clients only
  };
  const std::vector<Case> cases = {
      {"..\\outside.txt", true},
      {".\\aux.txt", false},
      {".\\logs\\com1.log", false},
  };
  for (const Case& c : cases) {
    if (!c.everywhere && !IsWindowsProgram()) continue;
    SCOPED_TRACE(c.path);
    ScratchDir scratch;
    std::string client = scratch.Sub("client");
    testing_support::MakeDirs(client);
    std::string program = testing_support::CopyProgramInto("filedist", client);
    // No file has this key: were the name opened as a file, nothing would
    // match it; taken as fine, verify would say the folder is whole.
    WriteFileBytes(client + "/VerComp.dat",
                   c.path + "," + testing_support::KeyOfBytes("no file has this") + ",16\r\n");
    std::string output;
    EXPECT_EQ(testing_support::Run({program, "verify"}, &output), 1) << output;
    EXPECT_NE(output.find("ignoring"), std::string::npos) << output;
  }
}

}  // namespace

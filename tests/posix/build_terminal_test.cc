// `filedist build` on a terminal and with its streams apart: a progress line
// instead of the per-file lines, errors on standard error. POSIX only: the
// terminal comes from script(1), the redirections from sh.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

class BuildTerminal : public ::testing::Test {
 protected:
  BuildTerminal() {
    testing_support::MakeDirs(scratch_.Sub("packer"));
    testing_support::MakeDirs(scratch_.Sub("src/sub"));
    program_ = testing_support::CopyProgramInto("filedist", scratch_.Sub("packer"));
    WriteFileBytes(scratch_.Sub("src/a.txt"), "a");
    WriteFileBytes(scratch_.Sub("src/sub/b.txt"), std::string(5000, 'b'));
    WriteFileBytes(scratch_.Sub("src/c.pdb"), "symbols");
    WriteFileBytes(scratch_.Sub("packer/Filters.ini"), "[Ext]\r\n.pdb\r\n");
  }

  std::string Shell(const std::string& command, int* status) {
    std::string output;
    *status = testing_support::Run({"/bin/sh", "-c", command}, &output);
    return output;
  }

  std::string BuildCommand(const std::string& extra) const {
    return "'" + program_ + "' build '" + scratch_.Sub("src") + "' --releases '" +
           scratch_.Sub("rel") + "'" + extra;
  }

  ScratchDir scratch_;
  std::string program_;
};

TEST_F(BuildTerminal, ShowsOneProgressLineOnATerminalAndEveryLineWithVerbose) {
  int status = 0;
  if (Shell("command -v script > /dev/null", &status), status != 0) {
    GTEST_SKIP() << "script(1) is not installed";
  }
  std::string quiet = Shell("script -qec \"" + BuildCommand("") + "\" /dev/null", &status);
  EXPECT_EQ(status, 0) << quiet;
  EXPECT_EQ(quiet.find("Compress ("), std::string::npos) << quiet;
  EXPECT_EQ(quiet.find("MD5 ("), std::string::npos) << quiet;
  EXPECT_EQ(quiet.find("Filters.ini\xB1\xBB"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("compressing: 2/2 files"), std::string::npos) << quiet;
  EXPECT_NE(quiet.find("released 2 files (1 left out by Filters.ini, 0 unchanged"),
            std::string::npos)
      << quiet;

  std::string verbose =
      Shell("script -qec \"" + BuildCommand(" --verbose") + "\" /dev/null", &status);
  EXPECT_EQ(status, 0) << verbose;
  EXPECT_NE(verbose.find("Compress (.\\sub\\b.txt) = "), std::string::npos) << verbose;
  EXPECT_NE(verbose.find("MD5 (" + scratch_.Sub("src/a.txt") + ") = "), std::string::npos);
  EXPECT_NE(verbose.find("\xCE\xC4\xBC\xFE [c.pdb]"), std::string::npos) << verbose;
  EXPECT_EQ(verbose.find("compressing:"), std::string::npos) << verbose;
}

TEST_F(BuildTerminal, ErrorsGoToStandardErrorWhateverTheLogLevel) {
  WriteFileBytes(scratch_.Sub("src/x,y.txt"), "a comma");
  int status = 0;
  // A named pipe cannot be read as a file: the system's reason comes along.
  Shell("mkfifo '" + scratch_.Sub("src/pipe") + "'", &status);
  ASSERT_EQ(status, 0);
  std::string only_stdout = Shell(BuildCommand(" 2>/dev/null"), &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(only_stdout.find("error"), std::string::npos) << only_stdout;
  std::string only_stderr = Shell(BuildCommand(" --log-level 0 >/dev/null"), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(only_stderr.find("filedist: error: Path [" + scratch_.Sub("src/x,y.txt") + "]"),
            std::string::npos)
      << only_stderr;
  // The stage the log names is left out at the terminal.
  EXPECT_NE(only_stderr.find("filedist: error: Read [" + scratch_.Sub("src/pipe") +
                             "] failed: Invalid argument"),
            std::string::npos)
      << only_stderr;
  EXPECT_NE(only_stderr.find("build failed"), std::string::npos) << only_stderr;
}

}  // namespace

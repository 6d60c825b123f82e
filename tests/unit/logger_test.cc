// The log file lies in the startup directory, so every case points it at a
// scratch directory and runs the logger there as a new host would.
#include "log/logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "common.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::LogLinesWithoutTime;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::StartupDirIn;
using testing_support::WriteFileBytes;

// Each case logs as a host lying in the scratch directory would.
class LoggerTest : public ::testing::Test {
 protected:
  std::vector<std::string> Logged() const { return LogLinesWithoutTime(log_path()); }
  std::string log_path() const { return scratch_.Sub("BuildVer.log"); }

  ScratchDir scratch_;
  StartupDirIn host_{scratch_.path()};
};

TEST_F(LoggerTest, LevelChoosesTheSeverities) {
  const std::vector<std::string> cases[] = {
      {"[ERROR] : E"},
      {"[ERROR] : E", "[WARNING] : W"},
      {"[ERROR] : E", "[WARNING] : W", "[INFO] : I"},
      {"[ERROR] : E", "[WARNING] : W", "[INFO] : I", "[DEBUG] : D"},
  };
  for (int level = 1; level <= 4; ++level) {
    ScratchDir scratch;
    {
      StartupDirIn host(scratch.path());
      SetLogLevel(level);
      LogError() << "E";
      LogWarning() << "W";
      LogInfo() << "I";
      LogDebug() << "D";
    }
    EXPECT_EQ(LogLinesWithoutTime(scratch.Sub("BuildVer.log")), cases[level - 1])
        << "level " << level;
  }
}

TEST_F(LoggerTest, NoLevelMeansNoFile) {
  LogError() << "lost";
  SetLogLevel(0);
  LogError() << "lost too";
  EXPECT_FALSE(FileExists(log_path()));
}

TEST_F(LoggerTest, OutOfRangeLevelsMuteAnOpenFile) {
  SetLogLevel(4);
  LogError() << "one";
  SetLogLevel(5);
  LogError() << "two";
  SetLogLevel(-1);
  LogError() << "three";
  SetLogLevel(1);
  LogError() << "four";
  EXPECT_EQ(Logged(), (std::vector<std::string>{"[ERROR] : one", "[ERROR] : four"}));
}

TEST_F(LoggerTest, AppendsAndNeverTruncates) {
  WriteFileBytes(log_path(), "earlier line\r\n");
  SetLogLevel(3);
  LogInfo() << "first run";
  Logger::Instance().Reset();  // the next host run opens the file afresh
  SetLogLevel(2);
  LogInfo() << "filtered";
  LogWarning() << "second run";
  std::string content = ReadFileBytes(log_path());
  EXPECT_EQ(content.rfind("earlier line\r\n", 0), 0u);
  std::vector<std::string> lines = Logged();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[INFO] : first run");
  EXPECT_EQ(lines[2], "[WARNING] : second run");
}

TEST_F(LoggerTest, LineFormatAndLineEnds) {
  SetLogLevel(1);
  LogError() << "abc";
  LogError() << "";
  LogError() << "two\nlines";
  std::string content = ReadFileBytes(log_path());
  std::regex line(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} \\[ERROR\\] : abc\r\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} \\[ERROR\\] : two\r\nlines\r\n");
  EXPECT_TRUE(std::regex_match(content, line)) << content;
}

// A log file that cannot be opened at first is opened by a later level.
TEST_F(LoggerTest, LoggingResumesAfterAFailedOpen) {
  ASSERT_EQ(plat::MakeOneDirectory(log_path().c_str()), plat::MakeDirResult::kCreated);
  SetLogLevel(1);
  LogError() << "lost";
  ASSERT_TRUE(plat::RemoveEmptyDirectory(log_path().c_str()));
  SetLogLevel(1);
  LogError() << "kept";
  EXPECT_EQ(Logged(), std::vector<std::string>{"[ERROR] : kept"});
}

// Beside the host executable, or wherever the startup directory is put.
TEST(LoggerPath, InTheStartupDirectory) {
  EXPECT_EQ(Logger::GetLogFilePath(),
            testing_support::TestProgramDir() + testing_support::Sep() + "BuildVer.log");
  ScratchDir scratch;
  StartupDirIn host(scratch.path());
  EXPECT_EQ(Logger::GetLogFilePath(), scratch.Sub("BuildVer.log"));
}

}  // namespace

// The log file lies beside the host executable, so every case runs the test
// host copied into a scratch directory.
#include "log/logger.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/test_support.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::LogLinesWithoutTime;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

class LoggerTest : public ::testing::Test {
 protected:
  LoggerTest() : host_(CopyProgramInto("test_host", scratch_.path())) {}

  // Runs the host with the given steps and returns the lines it logged.
  std::vector<std::string> RunHost(std::vector<std::string> steps) {
    steps.insert(steps.begin(), host_);
    std::string output;
    EXPECT_EQ(testing_support::Run(steps, &output), 0) << output;
    return LogLinesWithoutTime(log_path());
  }

  std::string log_path() const { return scratch_.Sub("BuildVer.log"); }

  ScratchDir scratch_;
  std::string host_;
};

const std::vector<std::string> kAllSeverities = {"error", "E", "warning", "W", "info", "I", "debug", "D"};

std::vector<std::string> WithLevel(const char* level) {
  std::vector<std::string> steps = {"level", level};
  steps.insert(steps.end(), kAllSeverities.begin(), kAllSeverities.end());
  return steps;
}

TEST_F(LoggerTest, LevelChoosesTheSeverities) {
  struct Case {
    const char* level;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"1", {"[ERROR] : E"}},
      {"2", {"[ERROR] : E", "[WARNING] : W"}},
      {"3", {"[ERROR] : E", "[WARNING] : W", "[INFO] : I"}},
      {"4", {"[ERROR] : E", "[WARNING] : W", "[INFO] : I", "[DEBUG] : D"}},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    std::string host = CopyProgramInto("test_host", scratch.path());
    std::vector<std::string> steps = WithLevel(c.level);
    steps.insert(steps.begin(), host);
    ASSERT_EQ(testing_support::Run(steps, nullptr), 0);
    EXPECT_EQ(LogLinesWithoutTime(scratch.Sub("BuildVer.log")), c.lines) << "level " << c.level;
  }
}

TEST_F(LoggerTest, NoLevelMeansNoFile) {
  RunHost({"error", "lost", "level", "0", "error", "lost too"});
  EXPECT_FALSE(FileExists(log_path()));
}

TEST_F(LoggerTest, OutOfRangeLevelsMuteAnOpenFile) {
  EXPECT_EQ(RunHost({"level", "4", "error", "one", "level", "5", "error", "two", "level", "-1",
                     "error", "three", "level", "1", "error", "four"}),
            (std::vector<std::string>{"[ERROR] : one", "[ERROR] : four"}));
}

TEST_F(LoggerTest, AppendsAndNeverTruncates) {
  WriteFileBytes(log_path(), "earlier line\r\n");
  RunHost({"level", "3", "info", "first run"});
  RunHost({"level", "2", "info", "filtered", "warning", "second run"});
  std::string content = ReadFileBytes(log_path());
  EXPECT_EQ(content.rfind("earlier line\r\n", 0), 0u);
  std::vector<std::string> lines = LogLinesWithoutTime(log_path());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "[INFO] : first run");
  EXPECT_EQ(lines[2], "[WARNING] : second run");
}

TEST_F(LoggerTest, LineFormatAndLineEnds) {
  RunHost({"level", "1", "error", "abc", "error", "", "error", "two\nlines"});
  std::string content = ReadFileBytes(log_path());
  std::regex line(
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} \\[ERROR\\] : abc\r\n"
      "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}:\\d{3} \\[ERROR\\] : two\r\nlines\r\n");
  EXPECT_TRUE(std::regex_match(content, line)) << content;
}

// A log file that cannot be opened at first is opened by a later level.
TEST_F(LoggerTest, LoggingResumesAfterAFailedOpen) {
  EXPECT_EQ(RunHost({"mkdir", log_path(), "level", "1", "error", "lost", "rmdir", log_path(),
                     "level", "1", "error", "kept"}),
            std::vector<std::string>{"[ERROR] : kept"});
}

TEST(LoggerPath, BesideTheHostExecutable) {
  ScratchDir scratch;
  std::string host = CopyProgramInto("test_host", scratch.path());
  std::string output;
  ASSERT_EQ(testing_support::Run({host, "logpath"}, &output), 0);
  EXPECT_EQ(output, scratch.Sub("BuildVer.log") + "\n");
}

}  // namespace

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

// One step of a host: "level N" sets the level through the export, "error",
// "warning", "info" and "debug" log their text, "mkdir" and "rmdir" make and
// remove a directory (to block the log file's name).
void RunSteps(const std::vector<std::string>& steps) {
  for (size_t i = 0; i + 1 < steps.size(); i += 2) {
    const std::string& step = steps[i];
    const std::string& arg = steps[i + 1];
    if (step == "level") {
      SetLogLevel(std::stoi(arg));
    } else if (step == "error") {
      LogError() << arg;
    } else if (step == "warning") {
      LogWarning() << arg;
    } else if (step == "info") {
      LogInfo() << arg;
    } else if (step == "debug") {
      LogDebug() << arg;
    } else if (step == "mkdir") {
      EXPECT_EQ(plat::MakeOneDirectory(arg.c_str()), plat::MakeDirResult::kCreated) << arg;
    } else if (step == "rmdir") {
      EXPECT_TRUE(plat::RemoveEmptyDirectory(arg.c_str())) << arg;
    } else {
      ADD_FAILURE() << "unknown step " << step;
    }
  }
}

class LoggerTest : public ::testing::Test {
 protected:
  // Runs the steps as one host run in the scratch directory and returns the
  // lines logged there so far.
  std::vector<std::string> RunHost(const std::vector<std::string>& steps) {
    {
      StartupDirIn host(scratch_.path());
      RunSteps(steps);
    }
    return LogLinesWithoutTime(log_path());
  }

  std::string log_path() const { return scratch_.Sub("BuildVer.log"); }

  ScratchDir scratch_;
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
    {
      StartupDirIn host(scratch.path());
      RunSteps(WithLevel(c.level));
    }
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

// Beside the host executable, or wherever the startup directory is put.
TEST(LoggerPath, InTheStartupDirectory) {
  EXPECT_EQ(Logger::GetLogFilePath(),
            testing_support::TestProgramDir() + testing_support::Sep() + "BuildVer.log");
  ScratchDir scratch;
  StartupDirIn host(scratch.path());
  EXPECT_EQ(Logger::GetLogFilePath(), scratch.Sub("BuildVer.log"));
}

}  // namespace

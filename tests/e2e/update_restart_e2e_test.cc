// filedist update --wait-pid PID --then-run PROGRAM ARG...: an application
// that starts the updater to replace its own files and exits. The update is
// fetched while the application runs, installed only once it has ended, and
// the application is started again; a process that does not end in time
// leaves everything as it was. The holder program (tests/holder) plays the
// application, which writes its process id into its READY file.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/release_tree.h"
#include "support/test_support.h"

namespace {

using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::WriteFileBytes;
using testing_support::WriteRelease;
using Strings = std::vector<std::string>;

// The id a running holder wrote into ready, once it has written all of it.
std::string WaitForId(const std::string& ready) {
  for (int waited = 0; waited < 1200; ++waited) {
    std::string text = FileExists(ready) ? ReadFileBytes(ready) : "";
    if (!text.empty() && text.back() == '\n') return text.substr(0, text.size() - 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// A program run in the background until it ends.
class Background {
 public:
  explicit Background(const Strings& argv) {
    thread_ = std::thread([this, argv] {
      status_ = testing_support::Run(argv, &output_);
      ended_ = true;
    });
  }
  ~Background() {
    if (thread_.joinable()) thread_.join();
  }
  bool ended() const { return ended_; }
  int Wait() {
    if (thread_.joinable()) thread_.join();
    return status_;
  }
  const std::string& output() const { return output_; }

 private:
  std::thread thread_;
  int status_ = -1;
  std::atomic<bool> ended_{false};
  std::string output_;
};

class UpdateRestartTest : public ::testing::Test {
 protected:
  UpdateRestartTest() {
    client_ = scratch_.Sub("client");
    MakeDirs(client_);
    program_ = CopyProgramInto("filedist", client_);
    holder_ = CopyProgramInto("in_use_holder", scratch_.path());
    WriteRelease(scratch_.Sub("v1"), {{"readme.txt", "version 1"}});
    WriteRelease(scratch_.Sub("v2"), {{"readme.txt", "version 2"}});
    std::string output;
    EXPECT_EQ(testing_support::Run({program_, "update", scratch_.Sub("v1")}, &output), 0) << output;
  }

  std::string Readme() const { return ReadFileBytes(client_ + "/readme.txt"); }

  ScratchDir scratch_;
  std::string client_;
  std::string program_;
  std::string holder_;
};

TEST_F(UpdateRestartTest, InstallsOnceTheApplicationHasEndedAndStartsItAgain) {
  const std::string ready = scratch_.Sub("ready"), signal = scratch_.Sub("signal");
  const std::string ready2 = scratch_.Sub("ready2"), signal2 = scratch_.Sub("signal2");
  Background application({holder_, ready, signal});
  std::string pid = WaitForId(ready);
  ASSERT_FALSE(pid.empty()) << application.output();

  Background update({program_, "update", scratch_.Sub("v2"), "--wait-pid", pid, "--timeout", "60",
                     "--then-run", holder_, ready2, signal2});
  // While the application runs, its files stay as they are.
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  EXPECT_FALSE(update.ended()) << update.output();
  EXPECT_EQ(Readme(), "version 1");
  EXPECT_FALSE(FileExists(ready2)) << "started again before it ended";

  WriteFileBytes(signal, "");
  EXPECT_EQ(application.Wait(), 0) << application.output();
  EXPECT_EQ(update.Wait(), 0) << update.output();
  EXPECT_EQ(Readme(), "version 2") << update.output();
  // Started again, with the arguments after the program's name.
  std::string again = WaitForId(ready2);
  EXPECT_FALSE(again.empty()) << update.output();
  EXPECT_NE(again, pid);
  WriteFileBytes(signal2, "");
}

TEST_F(UpdateRestartTest, AnApplicationThatDoesNotEndInTimeKeepsItsFiles) {
  const std::string ready = scratch_.Sub("ready"), signal = scratch_.Sub("signal");
  const std::string ready2 = scratch_.Sub("ready2"), signal2 = scratch_.Sub("signal2");
  Background application({holder_, ready, signal});
  std::string pid = WaitForId(ready);
  ASSERT_FALSE(pid.empty()) << application.output();
  std::string output;
  EXPECT_EQ(testing_support::Run({program_, "update", scratch_.Sub("v2"), "--wait-pid", pid,
                                  "--timeout", "1", "--then-run", holder_, ready2, signal2},
                                 &output),
            1)
      << output;
  EXPECT_NE(output.find("still runs after 1 seconds"), std::string::npos) << output;
  EXPECT_EQ(Readme(), "version 1");
  EXPECT_FALSE(FileExists(ready2)) << "started although nothing was installed";
  WriteFileBytes(signal, "");
  EXPECT_EQ(application.Wait(), 0) << application.output();
  // What was fetched stays staged: the next run installs it.
  EXPECT_EQ(testing_support::Run({program_, "update", scratch_.Sub("v2")}, &output), 0) << output;
  EXPECT_EQ(Readme(), "version 2");
}

TEST_F(UpdateRestartTest, ThenRunWithoutAProgramOrWithDryRunIsAUsageError) {
  std::string output;
  EXPECT_EQ(testing_support::Run({program_, "update", scratch_.Sub("v2"), "--then-run"}, &output),
            2)
      << output;
  EXPECT_EQ(
      testing_support::Run(
          {program_, "update", scratch_.Sub("v2"), "--dry-run", "--wait-pid", "12345"}, &output),
      2)
      << output;
  // Not a process id, or one no process can have: refused before anything
  // is fetched, never wrapped into another number.
  for (const char* pid : {"x", "-1", "0", "4294967296", "99999999999999999999999"}) {
    EXPECT_EQ(
        testing_support::Run({program_, "update", scratch_.Sub("v2"), "--wait-pid", pid}, &output),
        2)
        << pid << "\n"
        << output;
    EXPECT_NE(output.find("--wait-pid takes a process id from 1 to "), std::string::npos)
        << pid << "\n"
        << output;
  }
  EXPECT_EQ(Readme(), "version 1");
}

}  // namespace

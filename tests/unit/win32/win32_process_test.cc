// Child programs of a Windows program, as Wine runs them.
//
// A Unix program, started by its path on the drive that maps the Unix root:
// CreateProcess reports success, but Wine makes no Windows process for it,
// and the handles and ids it hands back are whatever its own stack held. A
// test program once closed its own standard output that way, and went on
// silently to the end. These cases leave a handle of this process on the
// stack first, where those left-overs come from, and check that nothing of
// this process is closed and no exit status is made up.
//
// A program whose child keeps its output open: running it ends with it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_server.h"

namespace {

// Fills the stack below the caller's frame with value: the calls that come
// next find it in their locals that nothing has set.
__attribute__((noinline)) void LeaveOnTheStack(HANDLE value) {
  volatile HANDLE area[16384];
  for (volatile HANDLE& slot : area) slot = value;
}

bool UnderWine() { return !testing_support::UnixPathOf("C:\\").empty(); }

// A pipe of this process. Its write end is the handle a wrong close would
// take; Works() proves it is still this pipe's by sending a byte through.
class Pipe {
 public:
  Pipe() { CreatePipe(&read_, &write_, nullptr, 0); }
  ~Pipe() {
    CloseHandle(read_);
    // A write end that was closed behind our back may by now be the number
    // of another object; that one is not ours to close.
    if (Works()) CloseHandle(write_);
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  HANDLE write_end() const { return write_; }

  bool Works() const {
    DWORD written = 0;
    DWORD got = 0;
    char byte = 0;
    // With the write end gone the read fails at once instead of waiting.
    return WriteFile(write_, "x", 1, &written, nullptr) && written == 1 &&
           ReadFile(read_, &byte, 1, &got, nullptr) && got == 1 && byte == 'x';
  }

 private:
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

TEST(Win32UnixProgram, StartingOneClosesNoHandleOfThisProcess) {
  if (!UnderWine()) GTEST_SKIP() << "no Unix programs beside Windows itself";
  Pipe pipe;
  ASSERT_TRUE(pipe.Works());
  std::string error;
  LeaveOnTheStack(pipe.write_end());
  ASSERT_TRUE(plat::StartProgram({"Z:\\bin\\true"}, &error)) << error;
  EXPECT_TRUE(pipe.Works());
}

// CloseHandle takes the number STD_OUTPUT_HANDLE for the process's standard
// output itself; the standard output here is a pipe of the test's.
TEST(Win32UnixProgram, StartingOneLeavesTheStandardOutputOpen) {
  if (!UnderWine()) GTEST_SKIP() << "no Unix programs beside Windows itself";
  HANDLE own_output = GetStdHandle(STD_OUTPUT_HANDLE);
  Pipe pipe;
  ASSERT_TRUE(SetStdHandle(STD_OUTPUT_HANDLE, pipe.write_end()));
  std::string error;
  LeaveOnTheStack(reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(STD_OUTPUT_HANDLE)));
  bool started = plat::StartProgram({"Z:\\bin\\true"}, &error);
  HANDLE output_after = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_OUTPUT_HANDLE, own_output);
  ASSERT_TRUE(started) << error;
  EXPECT_EQ(output_after, pipe.write_end());
  EXPECT_TRUE(pipe.Works());
}

// No process to wait for means no exit status to report: not a success
// for a program that fails, and no handle of this process waited on or
// closed in its place.
TEST(Win32UnixProgram, RunningOneReportsNoStatusItCannotKnow) {
  if (!UnderWine()) GTEST_SKIP() << "no Unix programs beside Windows itself";
  Pipe pipe;
  std::string output;
  LeaveOnTheStack(pipe.write_end());
  EXPECT_EQ(plat::RunProgram({"Z:\\bin\\false"}, &output), -1) << output;
  EXPECT_TRUE(pipe.Works());
}

// The tests' own way to start the Unix tools they compare against.
TEST(Win32UnixProgram, TheTestsStartOneClosingNoHandleOfThisProcess) {
  if (!UnderWine()) GTEST_SKIP() << "no Unix programs beside Windows itself";
  Pipe pipe;
  LeaveOnTheStack(pipe.write_end());
  ASSERT_TRUE(testing_support::StartUnixProgram({"/bin/true"}));
  EXPECT_TRUE(pipe.Works());
}

// Not cases of their own: the programs the next case runs. The first starts
// the second, handing it its standard output and error, and ends at once;
// the second waits until the case lets it go.
const char kReleaseEvent[] = "FILEDIST_TEST_RELEASE_EVENT";

TEST(Win32RunProgramHelper, DISABLED_LeaveAChildBehind) {
  std::string self;
  ASSERT_TRUE(plat::GetExecutablePath(&self));
  std::string command = "\"" + self +
                        "\" --gtest_also_run_disabled_tests"
                        " --gtest_filter=Win32RunProgramHelper.DISABLED_WaitToBeReleased";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(self.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &process));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

TEST(Win32RunProgramHelper, DISABLED_WaitToBeReleased) {
  const char* name = std::getenv(kReleaseEvent);
  ASSERT_NE(name, nullptr);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, name);
  ASSERT_NE(release, nullptr);
  WaitForSingleObject(release, 20000);
  CloseHandle(release);
}

// A program that ends while a process it started holds its output on: the
// call returns at the program's end with all it wrote, as under Wine when
// the first program to use the desktop starts explorer.exe, which keeps
// copies of its standard handles for the rest of the Wine session.
TEST(Win32RunProgram, ReturnsAtTheProgramsEndNotItsChildrens) {
  std::string self;
  ASSERT_TRUE(plat::GetExecutablePath(&self));
  const std::string name = "filedist-run-program-" + std::to_string(GetCurrentProcessId());
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(release, nullptr);
  ASSERT_TRUE(SetEnvironmentVariableA(kReleaseEvent, name.c_str()));
  std::string output;
  auto start = std::chrono::steady_clock::now();
  int status = plat::RunProgram({self, "--gtest_also_run_disabled_tests",
                                 "--gtest_filter=Win32RunProgramHelper.DISABLED_LeaveAChildBehind"},
                                &output);
  auto took = std::chrono::steady_clock::now() - start;
  SetEvent(release);
  CloseHandle(release);
  SetEnvironmentVariableA(kReleaseEvent, nullptr);
  EXPECT_EQ(status, 0) << output;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 15) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
}

}  // namespace

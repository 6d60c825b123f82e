// filedist key on a named pipe: refused at once, never waiting for a writer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;

TEST(CliKeyOnPosix, NamedPipeIsRefusedWithoutWaitingForAWriter) {
  ScratchDir scratch;
  const std::string filedist = testing_support::CopyProgramInto("filedist", scratch.path());
  const std::string pipe = scratch.Sub("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  testing_support::WriteFileBytes(scratch.Sub("a.txt"), "abc");

  std::string output;
  int status = -1;
  std::atomic<bool> done{false};
  std::thread runner([&] {
    status = testing_support::Run({filedist, "key", pipe, scratch.Sub("a.txt")}, &output);
    done = true;
  });
  // A filedist that opened the pipe would wait for ever; after a generous
  // while become its writer so that the test ends and reports the hang.
  bool had_to_unblock = false;
  for (int tick = 0; tick < 300 && !done; ++tick)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  while (!done) {
    had_to_unblock = true;
    int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  runner.join();

  EXPECT_FALSE(had_to_unblock) << "filedist key waited on the named pipe";
  EXPECT_EQ(status, 1) << output;
  EXPECT_NE(output.find("filedist: cannot read '" + pipe + "': is not a regular file"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("MD5 (" + scratch.Sub("a.txt") + ") = 900150983cd24fb0d6963f7d28e17f72"),
            std::string::npos)
      << output;
}

}  // namespace

// A helper thread that lowers its priority lowers its own alone: the thread
// it helps (a download's decoding) keeps the priority it had.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/platform.h"

namespace {

int OwnNice() {
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
  EXPECT_EQ(errno, 0);
  return nice;
}

TEST(ThreadPriority, AHelperLowersItsOwnAlone) {
  int before = OwnNice();
  int helper_before = 0;
  int helper_after = 0;
  std::thread helper([&] {
    helper_before = OwnNice();
    plat::LowerThreadPriority();
    helper_after = OwnNice();
  });
  helper.join();
  EXPECT_GT(helper_after, helper_before);
  EXPECT_EQ(OwnNice(), before);
}

}  // namespace

// Placing threads that the system refuses: the items are still done, each
// once, by the threads it gave, or by the caller alone.
#include "util/parallel_for.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "util/thread_start.h"

namespace {

TEST(ParallelFor, EveryItemOnceWithTheThreadsTheSystemGives) {
  for (int given : {0, 1}) {
    SCOPED_TRACE(given);
    std::vector<std::atomic<int>> calls(1000);
    std::mutex lock;
    std::set<std::thread::id> threads;
    util::LimitThreadStartsForTest(given);
    util::ParallelFor(calls.size(), 4, 7, [&](size_t index) {
      ++calls[index];
      std::lock_guard<std::mutex> hold(lock);
      threads.insert(std::this_thread::get_id());
    });
    util::LimitThreadStartsForTest(-1);
    for (size_t index = 0; index < calls.size(); ++index) {
      ASSERT_EQ(calls[index], 1) << "item " << index;
    }
    EXPECT_LE(threads.size(), static_cast<size_t>(given) + 1);
    if (given == 0) {
      EXPECT_EQ(threads.count(std::this_thread::get_id()), 1u);
    }
  }
}

}  // namespace

#include "util/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "util/thread_start.h"

namespace util {

void ParallelFor(size_t count, size_t threads, size_t chunk,
                 const std::function<void(size_t)>& work) {
  chunk = std::max<size_t>(chunk, 1);
  std::atomic<size_t> next{0};
  auto take = [&] {
    for (size_t first = next.fetch_add(chunk); first < count; first = next.fetch_add(chunk)) {
      size_t end = std::min(count, first + chunk);
      for (size_t index = first; index < end; ++index) work(index);
    }
  };
  threads = std::min(std::max<size_t>(threads, 1), std::max<size_t>(count, 1));
  // Threads the system refuses leave more items to those it gave, and to
  // this one.
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < threads && util::StartThread(&helpers, take); ++i) {
  }
  take();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace util

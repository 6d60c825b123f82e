#include "update/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace update {

void ParallelFor(size_t count, size_t threads, const std::function<void(size_t)>& work) {
  std::atomic<size_t> next{0};
  auto take = [&] {
    for (size_t index = next++; index < count; index = next++) work(index);
  };
  threads = std::min(std::max<size_t>(threads, 1), std::max<size_t>(count, 1));
  std::vector<std::thread> helpers;
  for (size_t i = 1; i < threads; ++i) helpers.emplace_back(take);
  take();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace update

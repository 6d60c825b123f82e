// Timing helpers shared by the benchmark programs.
#ifndef FILEDIST_BENCH_BENCH_UTIL_H
#define FILEDIST_BENCH_BENCH_UTIL_H

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

// Best wall-clock time of `runs` runs of work, in seconds: the least
// disturbed run on a shared machine.
inline double BestOf(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto start = std::chrono::steady_clock::now();
    work();
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

// Runs a shell command, failing the benchmark if it fails.
inline void Shell(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "benchmark command failed: %s\n", command.c_str());
    std::exit(1);
  }
}

}  // namespace bench

#endif  // FILEDIST_BENCH_BENCH_UTIL_H

// GetFileKey against md5sum on one 256 MiB file (warm cache), and
// LoadVersionInfo on a 200,000-line version list.
//
//   file_key_bench [DIR]        both benchmarks, with scratch files in DIR
//   file_key_bench --key FILE   keys FILE once and prints the seconds it took:
//                               bench/run times the Windows build under Wine
//                               this way, running md5sum itself between runs
//                               (a Windows program cannot wait for md5sum)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "bench/bench_util.h"
#include "common.h"
#include "fileio/file_key.h"
#include "fileio/md5.h"

namespace {

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// MD5 alone on 256 MiB already in memory (one read's worth hashed over and
// over), best of 5: what the key would take if reading cost nothing.
double HashOnlySeconds() {
  std::string piece(kFileKeyReadSize, '\0');
  for (size_t i = 0; i < piece.size(); ++i) piece[i] = static_cast<char>(i * 131 >> 3);
  return bench::BestOf(5, [&] {
    Md5State state;
    Md5Init(&state);
    for (size_t done = 0; done < (size_t{256} << 20); done += piece.size()) {
      Md5Update(&state, piece.data(), piece.size());
    }
    unsigned char digest[16];
    Md5Final(&state, digest);
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--key") == 0) {
    // The key prints one line to standard output; the time goes to standard
    // error.
    char key[kFileKeySize];
    auto start = std::chrono::steady_clock::now();
    bool read = ComputeFileKey(argv[2], key);
    double took = Seconds(start);
    if (!read) {
      std::fprintf(stderr, "cannot read %s\n", argv[2]);
      return 1;
    }
    std::fprintf(stderr, "GetFileKey %.4f s %s\n", took, key);
    std::fprintf(stderr, "MD5 in memory %.4f s\n", HashOnlySeconds());
    return 0;
  }

  std::string dir = argc > 1 ? argv[1] : "/tmp";
  std::string data = dir + "/filedist-key-bench.bin";
  std::string list = dir + "/filedist-list-bench.dat";
  const size_t kMiB = 1 << 20;

  {
    FILE* out = std::fopen(data.c_str(), "wb");
    std::mt19937 random(1);
    std::string block(kMiB, '\0');
    for (int mib = 0; mib < 256; ++mib) {
      for (size_t i = 0; i < block.size(); i += 4) {
        uint32_t value = random();
        std::memcpy(&block[i], &value, 4);
      }
      std::fwrite(block.data(), 1, block.size(), out);
    }
    std::fclose(out);
  }
  bench::Shell("cat '" + data + "' > /dev/null");

  // The key prints one line to standard output; keep it off the terminal.
  std::freopen("/dev/null", "w", stdout);
  // Runs of the two alternate, so that a burst of load from elsewhere on a
  // shared machine does not fall on one side only; each keeps its best.
  char key[kFileKeySize];
  double ours = 1e30, theirs = 1e30;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    ComputeFileKey(data.c_str(), key);
    ours = std::min(ours, Seconds(start));
    start = std::chrono::steady_clock::now();
    bench::Shell("md5sum '" + data + "' > /dev/null");
    theirs = std::min(theirs, Seconds(start));
  }
  double mb = 256.0 * kMiB / 1e6;
  std::fprintf(stderr,
               "256 MiB from the page cache, best of 5 runs each, alternating\n"
               "GetFileKey   %7.1f MB/s\nmd5sum       %7.1f MB/s\nratio        %7.3f (target >= 1.25)\n",
               mb / ours, mb / theirs, theirs / ours);
  double hash = HashOnlySeconds();
  std::fprintf(stderr, "MD5 alone on 256 MiB in memory %7.1f MB/s, %.3f of md5sum's speed\n", mb / hash, theirs / hash);

  {
    FILE* out = std::fopen(list.c_str(), "wb");
    for (int i = 0; i < 200000; ++i) {
      std::fprintf(out, ".\\dir%03d\\sub\\file%06d.dat,%032x,%d\r\n", i % 500, i, i * 2654435761u, i * 37);
    }
    std::fclose(out);
  }
  double load = bench::BestOf(5, [&] {
    VersionEntry* records = nullptr;
    int count = 0;
    if (!LoadVersionInfo(list.c_str(), &records, &count) || count != 200000) std::exit(1);
    FreeVersionInfo(&records);
  });
  std::fprintf(stderr, "LoadVersionInfo 200,000 lines  %.3f s (target < 0.5 s)\n", load);
  std::remove(data.c_str());
  std::remove(list.c_str());
  return 0;
}

// CZip and CUnzip against the gzip program on a mixed 100 MiB corpus (made
// once in the work directory and reused): the
// compression speed and output size against `gzip -6`, the decompression
// speed against `gzip -d`; and the engine's fast mode, which releases are
// made with, against `gzip -6` (file to file, like gzip). Runs alternate between the two sides and the best
// of each is kept, so that load from other processes hurts both alike.
//
// usage: zip_bench [RUNS] [WORK_DIR]
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "zip_classes.h"
#include "zipengine/fast/fast_deflate.h"

namespace {

constexpr size_t kCorpusBytes = size_t{100} << 20;

struct Times {
  double wall = 1e30;
  double cpu = 1e30;  // user + system of the process doing the work
};

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Times work once; `who` picks whose CPU time counts (this process, or the
// children it waits for).
template <typename Work>
void Measure(Times* best, int who, Work work) {
  double cpu_start = CpuSeconds(who);
  auto start = std::chrono::steady_clock::now();
  work();
  std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  best->wall = std::min(best->wall, wall.count());
  best->cpu = std::min(best->cpu, CpuSeconds(who) - cpu_start);
}

long FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// English-like prose from a Zipf-distributed vocabulary.
void AppendText(std::string& out, size_t bytes, std::mt19937& random) {
  static std::vector<std::string> words;
  if (words.empty()) {
    std::mt19937 word_random(7);
    const char* syllables[] = {"the", "an", "in", "er", "on", "at", "re", "st", "en", "ing", "ti", "es", "or",
                               "te",  "of", "ed", "is", "it", "al", "ar", "nd", "to", "ou",  "ea", "ha", "ve"};
    for (int i = 0; i < 4000; ++i) {
      std::string word;
      int parts = 1 + static_cast<int>(word_random() % 4);
      for (int p = 0; p < parts; ++p) word += syllables[word_random() % 26];
      words.push_back(word);
    }
  }
  size_t end = out.size() + bytes;
  int in_sentence = 0;
  while (out.size() < end) {
    // Zipf-like: small indices far more often.
    double u = std::uniform_real_distribution<double>(0.0, 1.0)(random);
    size_t index = static_cast<size_t>(std::pow(words.size(), u)) - 1;
    std::string word = words[index];
    if (in_sentence == 0) word[0] = static_cast<char>(word[0] - 32);
    out += word;
    if (++in_sentence > 6 + static_cast<int>(random() % 14)) {
      out += random() % 5 == 0 ? ".\n" : ". ";
      in_sentence = 0;
    } else {
      out += random() % 9 == 0 ? ", " : " ";
    }
  }
  out.resize(end);
}

void AppendLog(std::string& out, size_t bytes, std::mt19937& random) {
  const char* levels[] = {"INFO", "INFO", "INFO", "DEBUG", "WARN", "ERROR"};
  const char* actions[] = {"processed request",  "opened file",        "closed connection",
                           "cache miss for key", "retrying upload of", "checksum verified for"};
  size_t end = out.size() + bytes;
  char line[256];
  unsigned long long stamp = 1700000000000ull;
  while (out.size() < end) {
    stamp += random() % 2000;
    int n = std::snprintf(line, sizeof line, "%llu.%03llu [%s] worker-%02u %s id=%u size=%u in %u ms\n", stamp / 1000,
                          stamp % 1000, levels[random() % 6], static_cast<unsigned>(random() % 32),
                          actions[random() % 6], static_cast<unsigned>(random() % 10000000),
                          static_cast<unsigned>(random() % 70000), static_cast<unsigned>(random() % 900));
    out.append(line, static_cast<size_t>(n));
  }
  out.resize(end);
}

// Fixed-size records with slowly changing fields, like a table file.
void AppendRecords(std::string& out, size_t bytes, std::mt19937& random) {
  size_t end = out.size() + bytes;
  uint32_t id = random();
  float value = 1.0f;
  while (out.size() < end) {
    id += 1 + random() % 3;
    value += static_cast<float>(static_cast<int>(random() % 200) - 100) / 1000.0f;
    uint16_t small = static_cast<uint16_t>(random() % 300);
    uint8_t flags = static_cast<uint8_t>(random() % 4 == 0 ? random() : 0x11);
    out.append(reinterpret_cast<const char*>(&id), 4);
    out.append(reinterpret_cast<const char*>(&small), 2);
    out.append(reinterpret_cast<const char*>(&value), 4);
    out.push_back(static_cast<char>(flags));
    out.push_back('\0');
  }
  out.resize(end);
}

void AppendRandom(std::string& out, size_t bytes, std::mt19937& random) {
  for (size_t i = 0; i < bytes; ++i) out.push_back(static_cast<char>(random()));
}

// Mostly zeros with scattered values: sparse tables and padding.
void AppendSparse(std::string& out, size_t bytes, std::mt19937& random) {
  size_t start = out.size();
  out.append(bytes, '\0');
  for (size_t i = start; i < out.size(); i += 1 + random() % 97) out[i] = static_cast<char>(random() % 8);
}

// Regular files under dir (recursively, in name order) up to `wanted`
// bytes: real machine code from the library directories, real source code
// from the system headers.
void AppendFilesUnder(const std::string& dir, size_t wanted, std::string* data) {
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
  }
  closedir(listing);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (data->size() >= wanted) return;
    std::string path = dir + "/" + name;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      AppendFilesUnder(path, wanted, data);
      continue;
    }
    if (!S_ISREG(info.st_mode) || info.st_size > (4 << 20)) continue;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) continue;
    std::string bytes(static_cast<size_t>(info.st_size), '\0');
    size_t got = std::fread(&bytes[0], 1, bytes.size(), file);
    std::fclose(file);
    data->append(bytes, 0, std::min(got, wanted - data->size()));
  }
}

// Takes the next piece of a system file collection, or makes text when the
// machine has too little of it.
void AppendFrom(const std::string& files, size_t* at, std::string& out, size_t bytes, std::mt19937& random) {
  size_t take = std::min(bytes, files.size() - *at);
  out.append(files, *at, take);
  *at += take;
  if (take < bytes) AppendText(out, bytes - take, random);
}

void WriteCorpus(const std::string& path) {
  std::mt19937 random(12345);
  std::string binaries, sources;
  AppendFilesUnder("/usr/lib/x86_64-linux-gnu", kCorpusBytes * 20 / 100, &binaries);
  AppendFilesUnder("/usr/include", kCorpusBytes * 30 / 100, &sources);
  size_t binary_at = 0, source_at = 0;
  std::string corpus;
  corpus.reserve(kCorpusBytes + (1 << 20));
  // Pieces of 64 KiB to 1 MiB of each kind, interleaved: source code 25%,
  // machine code 15%, prose 15%, logs 15%, records 10%, random 10%, sparse 10%.
  while (corpus.size() < kCorpusBytes) {
    size_t piece = (64u << 10) + random() % (960u << 10);
    unsigned kind = random() % 100;
    if (kind < 25) {
      AppendFrom(sources, &source_at, corpus, piece, random);
    } else if (kind < 40) {
      AppendFrom(binaries, &binary_at, corpus, piece, random);
    } else if (kind < 55) {
      AppendText(corpus, piece, random);
    } else if (kind < 70) {
      AppendLog(corpus, piece, random);
    } else if (kind < 80) {
      AppendRecords(corpus, piece, random);
    } else if (kind < 90) {
      AppendRandom(corpus, piece, random);
    } else {
      AppendSparse(corpus, piece, random);
    }
  }
  corpus.resize(kCorpusBytes);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(corpus.data(), 1, corpus.size(), out) != corpus.size()) std::exit(1);
  std::fclose(out);
}

void RunSwap(CMamaZip& zip, const std::string& destination) {
  std::remove(destination.c_str());
  int result = zip.SwapSize(destination.c_str());
  if (result != 0) {
    std::fprintf(stderr, "SwapSize gave %d\n", result);
    std::exit(1);
  }
}

// The fast mode from file to file, the way a release compresses a file.
void FastCompressFile(zipengine::FastGzipStream& stream, const std::string& source, const std::string& destination) {
  FILE* in = std::fopen(source.c_str(), "rb");
  FILE* out = std::fopen(destination.c_str(), "wb");
  if (in == nullptr || out == nullptr) std::exit(1);
  stream.Begin();
  for (;;) {
    size_t room = 0;
    unsigned char* space = stream.InputSpace(&room);
    size_t got = std::fread(space, 1, room, in);
    stream.Commit(got);
    if (stream.output_size() >= (1u << 20)) {
      std::fwrite(stream.output(), 1, stream.output_size(), out);
      stream.ClearOutput();
    }
    if (got < room) break;
  }
  stream.Finish();
  if (std::fwrite(stream.output(), 1, stream.output_size(), out) != stream.output_size()) std::exit(1);
  std::fclose(in);
  std::fclose(out);
}

void Report(const char* what, double corpus_mb, const Times& ours, const Times& theirs, double target) {
  std::printf("%-24s wall %7.1f MB/s vs %7.1f MB/s  ratio %.2f | cpu ratio %.2f  (target >= %.2f)\n", what,
              corpus_mb / ours.wall, corpus_mb / theirs.wall, theirs.wall / ours.wall, theirs.cpu / ours.cpu, target);
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  std::string dir = argc > 2 ? argv[2] : "/tmp/filedist_zip_bench";
  bench::Shell("mkdir -p '" + dir + "'");
  std::string corpus = dir + "/corpus.bin";
  std::string ours_gz = dir + "/ours.gz";
  std::string gzip_gz = dir + "/corpus.bin.gz";
  std::string ours_out = dir + "/ours.out";
  std::string fast_gz = dir + "/fast.gz";
  std::string gzip_out = dir + "/gzip.out";
  if (FileSize(corpus) != static_cast<long>(kCorpusBytes)) WriteCorpus(corpus);
  const double corpus_mb = kCorpusBytes / 1e6;

  Times czip, gzip6, cunzip, gunzip, fast;
  zipengine::FastGzipStream stream;
  for (int run = 0; run < runs; ++run) {
    Measure(&gzip6, RUSAGE_CHILDREN, [&] { bench::Shell("gzip -6 -c '" + corpus + "' > '" + gzip_gz + "'"); });
    Measure(&fast, RUSAGE_SELF, [&] { FastCompressFile(stream, corpus, fast_gz); });
    Measure(&czip, RUSAGE_SELF, [&] {
      CZip zip(corpus.c_str());
      RunSwap(zip, ours_gz);
    });
    Measure(&gunzip, RUSAGE_CHILDREN, [&] { bench::Shell("gzip -d -c '" + gzip_gz + "' > '" + gzip_out + "'"); });
    Measure(&cunzip, RUSAGE_SELF, [&] {
      CUnzip unzip(gzip_gz.c_str());
      RunSwap(unzip, ours_out);
    });
  }
  // Both outputs must be right before their speed means anything.
  bench::Shell("gzip -t '" + ours_gz + "'");
  bench::Shell("gzip -d -c '" + ours_gz + "' | cmp -s - '" + corpus + "'");
  bench::Shell("cmp -s '" + ours_out + "' '" + corpus + "'");
  bench::Shell("gzip -t '" + fast_gz + "'");
  bench::Shell("gzip -d -c '" + fast_gz + "' | cmp -s - '" + corpus + "'");

  long ours_size = FileSize(ours_gz);
  long gzip_size = FileSize(gzip_gz);
  std::printf(
      "corpus: %.1f MB mixed (source code, machine code, prose, logs, records, random, sparse), best of %d runs\n",
      corpus_mb, runs);
  Report("CZip vs gzip -6", corpus_mb, czip, gzip6, 1.15);
  std::printf("%-24s %ld bytes vs %ld bytes  ratio %.4f  (target <= 1)\n", "CZip size vs gzip -6", ours_size, gzip_size,
              static_cast<double>(ours_size) / gzip_size);
  Report("CUnzip vs gzip -d", corpus_mb, cunzip, gunzip, 1.4);
  Report("fast mode vs gzip -6", corpus_mb, fast, gzip6, 2.5);
  long fast_size = FileSize(fast_gz);
  std::printf("%-24s %ld bytes vs %ld bytes  ratio %.4f\n", "fast mode size vs gzip -6", fast_size, gzip_size,
              static_cast<double>(fast_size) / gzip_size);
  std::printf("(cpu ratio: user+system time of each side; the steadier figure when other processes share the cores)\n");
  std::remove(ours_out.c_str());
  std::remove(gzip_out.c_str());
  std::remove(fast_gz.c_str());
  return 0;
}

#include "fuzz/fuzz_support.h"

#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fuzz {

namespace {

std::string* g_dir = nullptr;

void RemoveScratchDir() {
  if (g_dir == nullptr) return;
  std::error_code ignored;
  // Read-only files left by a target must not keep the directory alive.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(*g_dir, ignored)) {
    chmod(entry.path().c_str(), 0700);
  }
  std::filesystem::remove_all(*g_dir, ignored);
}

std::string MakeScratchDir() {
  const char* base = std::getenv("TMPDIR");
  if (base == nullptr || access(base, W_OK) != 0)
    base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/filedist-fuzz-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

}  // namespace

const std::string& ScratchDir() {
  if (g_dir == nullptr) {
    g_dir = new std::string(MakeScratchDir());
    std::atexit(RemoveScratchDir);
  }
  return *g_dir;
}

std::string ScratchPath(const char* name) { return ScratchDir() + "/" + name; }

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::abort();
  }
  bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) {
    std::perror(path.c_str());
    std::abort();
  }
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  WriteBytes(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

bool ReadBytes(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void RemoveIfPresent(const std::string& path) {
  chmod(path.c_str(), 0600);
  unlink(path.c_str());
}

void Fail(const char* what, const char* file, int line) {
  // Through the sanitizers' report channel: with -close_fd_mask the
  // process's own standard error is closed.
  char text[512];
  std::snprintf(text, sizeof text, "%s:%d: invariant broken: %s", file, line, what);
  __sanitizer_report_error_summary(text);
  std::abort();
}

}  // namespace fuzz

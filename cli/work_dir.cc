#include "cli/work_dir.h"

#include <filesystem>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

WorkDir::WorkDir(const char* prefix) {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) return;
  std::random_device seed;
  for (int attempt = 0; attempt < 20 && path_.empty(); ++attempt) {
    fs::path candidate = base / (prefix + std::to_string(seed()));
    if (fs::create_directory(candidate, error)) path_ = candidate.string();
  }
}

WorkDir::~WorkDir() {
  std::error_code error;
  if (!path_.empty()) fs::remove_all(path_, error);
}

std::string WorkDir::File(const char* name) const { return (fs::path(path_) / name).string(); }

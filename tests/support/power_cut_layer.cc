#include "support/power_cut_layer.h"

#include <algorithm>
#include <cstdio>

#include "platform/platform.h"

namespace {

// One spelling per path: the engine joins its paths one way, but '\' and
// '/' both separate on Windows.
std::string KeyOf(const std::string& path) {
  std::string key;
  for (char c : path) {
    char d = c == '\\' ? '/' : c;
    if (d == '/' && !key.empty() && key.back() == '/') continue;
    key += d;
  }
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::string ParentKey(const std::string& key) {
  size_t cut = key.rfind('/');
  return cut == std::string::npos ? std::string(".") : key.substr(0, cut);
}

bool ReadAll(const std::string& path, std::string* out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  out->clear();
  char buffer[1 << 16];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, got);
  std::fclose(file);
  return true;
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

PowerCutLayer::Semantics PowerCutLayer::OfThisBuild() {
  return plat::kPathSeparator == '\\' ? Semantics::kNtfs : Semantics::kPosix;
}

PowerCutLayer::PowerCutLayer(Semantics semantics) : semantics_(semantics) {
  plat::SetDurabilityObserver(this);
}

PowerCutLayer::~PowerCutLayer() { plat::SetDurabilityObserver(nullptr); }

void PowerCutLayer::MarkDurable(const std::string& key, File* file) {
  ReadAll(key, &file->durable);
}

void PowerCutLayer::Created(const std::string& path, FILE* file) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string key = KeyOf(path);
  File& record = files_[key];
  record = File();
  // NTFS journals the new name with the creation.
  record.entry_durable = semantics_ == Semantics::kNtfs;
  open_[file] = key;
}

void PowerCutLayer::FileSynced(FILE* file) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = open_.find(file);
  if (found == open_.end()) return;
  auto record = files_.find(found->second);
  if (record != files_.end()) MarkDurable(record->first, &record->second);
}

void PowerCutLayer::PathSynced(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  auto record = files_.find(KeyOf(path));
  if (record != files_.end()) MarkDurable(record->first, &record->second);
}

void PowerCutLayer::Renamed(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string from_key = KeyOf(from);
  std::string to_key = KeyOf(to);
  auto record = files_.find(from_key);
  if (record == files_.end()) {
    // A file from before the layer: durable, under its new name too.
    files_.erase(to_key);
    return;
  }
  File moved = record->second;
  files_.erase(record);
  files_[to_key] = moved;
  for (auto& item : open_) {
    if (item.second == from_key) item.second = to_key;
  }
}

void PowerCutLayer::Removed(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  files_.erase(KeyOf(path));
}

void PowerCutLayer::DirectorySynced(const std::string& dir) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string dir_key = KeyOf(dir);
  for (auto& item : files_) {
    if (ParentKey(item.first) == dir_key) item.second.entry_durable = true;
  }
}

void PowerCutLayer::FileSystemSynced(const std::string&) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& item : files_) {
    MarkDurable(item.first, &item.second);
    item.second.entry_durable = true;
  }
}

int PowerCutLayer::Cut() {
  std::lock_guard<std::mutex> hold(lock_);
  int changed = 0;
  for (const auto& item : files_) {
    const std::string& path = item.first;
    const File& file = item.second;
    std::string now;
    if (!ReadAll(path, &now)) continue;
    if (!file.entry_durable) {
      // Not through the platform, which would tell this layer.
      std::remove(path.c_str());
      ++changed;
      continue;
    }
    std::string after = file.durable;
    if (semantics_ == Semantics::kNtfs) {
      after.resize(now.size(), '\0');
      size_t kept = std::min(file.durable.size(), now.size());
      std::fill(after.begin() + kept, after.end(), '\0');
    }
    if (after == now) continue;
    WriteAll(path, after);
    ++changed;
  }
  return changed;
}

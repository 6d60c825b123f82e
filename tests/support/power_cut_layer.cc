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

PowerCutLayer::PowerCutLayer(Semantics semantics, const std::string& root) : semantics_(semantics) {
  Snapshot(KeyOf(root));
  plat::SetDurabilityObserver(this);
}

PowerCutLayer::~PowerCutLayer() { plat::SetDurabilityObserver(nullptr); }

void PowerCutLayer::Snapshot(const std::string& dir) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(dir, &entries)) return;
  for (const plat::DirEntry& entry : entries) {
    std::string child = dir + "/" + entry.name;
    if (entry.attributes & plat::kAttrReparsePoint) continue;
    if (entry.attributes & plat::kAttrDirectory) {
      Snapshot(child);
    } else {
      MarkDurable(child, &files_[child]);
    }
  }
}

void PowerCutLayer::MarkDurable(const std::string& key, File* file) {
  ReadAll(key, &file->durable);
}

void PowerCutLayer::Created(const std::string& path, FILE* file) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string key = KeyOf(path);
  files_[key] = File();
  open_[file] = key;
  // NTFS journals the new name with the creation.
  if (semantics_ == Semantics::kPosix) {
    NameChange change;
    change.to = key;
    changes_.push_back(change);
  }
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
  NameChange change;
  change.from = from_key;
  change.to = to_key;
  auto replaced = files_.find(to_key);
  if (replaced != files_.end()) {
    change.replaced = true;
    change.replaced_file = replaced->second;
  }
  auto moved = files_.find(from_key);
  File file;
  if (moved != files_.end()) {
    file = moved->second;
    files_.erase(moved);
  } else {
    MarkDurable(to_key, &file);  // from outside the snapshot: durable
  }
  files_[to_key] = file;
  for (auto& item : open_) {
    if (item.second == from_key) item.second = to_key;
  }
  // MOVEFILE_WRITE_THROUGH returns once the rename is on the disk.
  if (semantics_ == Semantics::kPosix) changes_.push_back(change);
}

void PowerCutLayer::Removed(const std::string& path) {
  std::lock_guard<std::mutex> hold(lock_);
  files_.erase(KeyOf(path));
}

void PowerCutLayer::DirectorySynced(const std::string& dir) {
  std::lock_guard<std::mutex> hold(lock_);
  std::string dir_key = KeyOf(dir);
  for (NameChange& change : changes_) {
    if (ParentKey(change.to) == dir_key) change.durable = true;
  }
}

void PowerCutLayer::FileSystemSynced(const std::string&) {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto& item : files_) MarkDurable(item.first, &item.second);
  for (NameChange& change : changes_) change.durable = true;
}

// Latest first, so that each change is undone from the names it left. A
// file removed since a change was made stays removed.
void PowerCutLayer::UndoNameChanges() {
  for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
    if (change->durable) continue;
    std::string ignored;
    if (!ReadAll(change->to, &ignored)) continue;
    auto record = files_.find(change->to);
    File file = record != files_.end() ? record->second : File();
    if (record != files_.end()) files_.erase(record);
    // Not through the platform, which would tell this layer.
    if (change->from.empty()) {
      std::remove(change->to.c_str());
      continue;
    }
    std::remove(change->from.c_str());
    if (std::rename(change->to.c_str(), change->from.c_str()) != 0) continue;
    files_[change->from] = file;
    if (change->replaced) {
      WriteAll(change->to, change->replaced_file.durable);
      files_[change->to] = change->replaced_file;
    }
  }
  changes_.clear();
}

int PowerCutLayer::Cut() {
  std::lock_guard<std::mutex> hold(lock_);
  int changed = 0;
  for (const NameChange& change : changes_) changed += change.durable ? 0 : 1;
  UndoNameChanges();
  for (const auto& item : files_) {
    const std::string& path = item.first;
    const File& file = item.second;
    std::string now;
    if (!ReadAll(path, &now)) continue;
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

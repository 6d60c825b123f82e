#include "version/version_record.h"

#include <cstring>

void RecordToEntry(const VersionRecord& record, VersionEntry* entry) {
  std::memset(entry, 0, sizeof(*entry));
  std::memcpy(entry->path, record.path.data(), std::min(record.path.size(), kMaxRecordPathLength));
  std::memcpy(entry->key, record.key.data(), std::min(record.key.size(), kMaxRecordKeyLength));
  entry->size = record.size;
  entry->flag = record.flag;
}

bool EntryToRecord(const VersionEntry& entry, VersionRecord* record) {
  const void* path_end = std::memchr(entry.path, '\0', sizeof(entry.path));
  const void* key_end = std::memchr(entry.key, '\0', sizeof(entry.key));
  if (path_end == nullptr || key_end == nullptr) return false;
  record->path.assign(entry.path, static_cast<const char*>(path_end));
  record->key.assign(entry.key, static_cast<const char*>(key_end));
  record->size = entry.size;
  record->flag = entry.flag;
  return true;
}

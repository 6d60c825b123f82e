// The library's own form of a version list record. Lists of 200,000 files
// must stay small in a 32-bit process, so the record keeps its path in a
// string; the fixed 1068-byte VersionEntry of the public header is made only
// where records cross the library boundary.
#ifndef FILEDIST_VERSION_VERSION_RECORD_H
#define FILEDIST_VERSION_VERSION_RECORD_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common.h"

// Longest texts a record holds; the fields of VersionEntry add the NUL.
constexpr size_t kMaxRecordPathLength = VERSION_PATH_SIZE - 1;
constexpr size_t kMaxRecordKeyLength = VERSION_KEY_SIZE - 1;

struct VersionRecord {
  std::string path;
  std::string key;
  int32_t size = 0;
  uint8_t flag = ENTRY_LISTED;
};

using VersionRecordList = std::vector<VersionRecord>;

// Position of each path in a VersionRecordList, compared byte-wise.
using PathIndex = std::map<std::string, int32_t>;

// Fills a VersionEntry (every byte zeroed first) from a record whose texts
// fit the fixed fields; longer texts are cut to fit.
void RecordToEntry(const VersionRecord& record, VersionEntry* entry);

// Reads a VersionEntry from the host. False when path or key is not
// terminated within its field.
bool EntryToRecord(const VersionEntry& entry, VersionRecord* record);

#endif  // FILEDIST_VERSION_VERSION_RECORD_H

// ReadVersionList on arbitrary file contents. Every record must fit the fixed
// fields a host receives, the index must name exactly the last record of
// each path, and writing the records back with Data2File and reading them
// again must give the same records whenever no text holds a comma or a line
// break (the list format has no way to quote them).
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "version/version_list.h"

namespace {

bool SurvivesWriting(const std::string& text) {
  return text.find_first_of(",\r\n") == std::string::npos;
}

void CheckIndex(const VersionRecordList& entries, const PathIndex& index) {
  for (const auto& [path, position] : index) {
    FUZZ_CHECK(position >= 0 && static_cast<size_t>(position) < entries.size());
    FUZZ_CHECK(entries[position].path == path);
    // The index keeps the last record of a path listed twice.
    for (size_t later = static_cast<size_t>(position) + 1; later < entries.size(); ++later) {
      FUZZ_CHECK(entries[later].path != path);
    }
  }
  for (const VersionRecord& record : entries) FUZZ_CHECK(index.count(record.path) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string list = fuzz::ScratchPath("list.txt");
  static const std::string copy = fuzz::ScratchPath("copy.txt");
  fuzz::WriteBytes(list, data, size);

  VersionRecordList entries;
  PathIndex index;
  FUZZ_CHECK(ReadVersionList(list.c_str(), &entries, &index));
  bool writable = true;
  for (const VersionRecord& record : entries) {
    FUZZ_CHECK(record.path.size() <= kMaxRecordPathLength);
    FUZZ_CHECK(record.key.size() <= kMaxRecordKeyLength);
    FUZZ_CHECK(record.path.find(',') == std::string::npos);
    FUZZ_CHECK(record.flag == ENTRY_LISTED);
    writable = writable && SurvivesWriting(record.path) && SurvivesWriting(record.key);
  }
  CheckIndex(entries, index);
  // No record can be longer than the input that produced it.
  FUZZ_CHECK(entries.size() <= size / 2);

  if (!writable) return 0;
  FUZZ_CHECK(Data2File(copy.c_str(), entries));
  VersionRecordList again;
  PathIndex againIndex;
  FUZZ_CHECK(ReadVersionList(copy.c_str(), &again, &againIndex));
  FUZZ_CHECK(again.size() == entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    FUZZ_CHECK(again[i].path == entries[i].path);
    FUZZ_CHECK(again[i].key == entries[i].key);
    FUZZ_CHECK(again[i].size == entries[i].size);
    FUZZ_CHECK(again[i].flag == entries[i].flag);
  }
  FUZZ_CHECK(againIndex == index);
  return 0;
}

// The exports that hand version lists across the boundary, and the library's
// release and client entry points.
#include <cstdlib>
#include <cstring>
#include <new>

#include "common.h"
#include "version/file_version.h"
#include "version/version_list.h"

namespace {

// One block of the library's heap, to be given back through FreeVersionInfo
// or FreeUpdateList. Null when it cannot be had.
VersionEntry* MakeEntryArray(const VersionRecordList& records) {
  size_t count = records.size() == 0 ? 1 : records.size();
  VersionEntry* array = static_cast<VersionEntry*>(std::calloc(count, sizeof(VersionEntry)));
  if (array == nullptr) return nullptr;
  for (size_t i = 0; i < records.size(); ++i) RecordToEntry(records[i], &array[i]);
  return array;
}

void ReleaseEntryArray(VersionEntry** records) {
  if (records == nullptr || *records == nullptr) return;
  std::free(*records);
  *records = nullptr;
}

}  // namespace

extern "C" {

COMMON_API int COMMON_CALL BuildVer(const char* sourceDir, const char* outputDir,
                                    const char* releaseDir, char* patchDirOut);

COMMON_API int COMMON_CALL LoadVersionInfo(const char* listPath, VersionEntry** records,
                                           int* count) {
  if (records == nullptr || count == nullptr) return 0;
  VersionRecordList list;
  PathIndex index;
  if (!ReadVersionList(listPath, &list, &index)) return 0;
  if (list.empty()) {
    *count = 0;
    *records = nullptr;
    return 1;
  }
  VersionEntry* array = MakeEntryArray(list);
  if (array == nullptr) return 0;
  *count = static_cast<int>(list.size());
  *records = array;
  return 1;
}

COMMON_API int COMMON_CALL GenerateUpdateList(const char* newListPath, const char* localListPath,
                                              VersionEntry** records, int* count, int* totalSize) {
  if (g_fileVersion == nullptr || records == nullptr || count == nullptr || totalSize == nullptr) {
    return 0;
  }
  g_fileVersion->Reset();
  VersionRecordList result;
  int total = 0;
  if (!g_fileVersion->GenerateUpdateList(newListPath, localListPath, &result, &total)) return 0;
  // Even an empty update list is a real array that the host gives back.
  VersionEntry* array = MakeEntryArray(result);
  if (array == nullptr) return 0;
  *count = static_cast<int>(result.size());
  *totalSize = total;
  *records = array;
  return 1;
}

COMMON_API void COMMON_CALL FreeUpdateList(VersionEntry** records) { ReleaseEntryArray(records); }

COMMON_API void COMMON_CALL FreeVersionInfo(VersionEntry** records) { ReleaseEntryArray(records); }

COMMON_API int COMMON_CALL UpdateClientVersionInfo(const char* listPath, VersionEntry entry) {
  if (g_fileVersion == nullptr) return 0;
  return g_fileVersion->UpdateClientVersionInfo(listPath, entry) ? 1 : 0;
}

}  // extern "C"

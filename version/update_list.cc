#include <climits>
#include <cstdint>
#include <string>

#include "fileio/io_util.h"
#include "platform/platform.h"
#include "util/ascii_case.h"
#include "version/file_version.h"
#include "version/version_list.h"

namespace {

// Capacity the comparison gives GetStartupDir; a deeper install directory
// makes the presence check answer "present", so nothing is fetched again.
constexpr size_t kStartupDirCapacity = 512;

// Programs and libraries must be on disk whatever the list says: a client
// whose executable was deleted cannot start, while a missing data file may
// have been removed on purpose.
bool NamesProgramOrLibrary(const std::string& path) {
  std::string lower = util::LowerAscii(path);
  return lower.find(".exe") != std::string::npos || lower.find(".dll") != std::string::npos;
}

// True unless the record's file is certainly missing below the host's
// directory. Any failure to find out counts as present.
bool IsInstalled(const char* startup_dir, const std::string& path) {
  if (startup_dir == nullptr) return true;
  std::string combined;
  if (!Combine(startup_dir, path.c_str(), &combined)) return true;
  return plat::PathExists(combined.c_str());
}

// A size field below zero is the low 32 bits of a count of 2 GiB or more.
int64_t DownloadSize(const VersionRecord& record) {
  return static_cast<int64_t>(static_cast<uint32_t>(record.size));
}

void AppendWithFlag(const VersionRecord& record, uint8_t flag, VersionRecordList* result) {
  result->push_back(record);
  result->back().flag = flag;
}

}  // namespace

bool CFileVersion::GenerateUpdateList(const char* newListPath, const char* localListPath,
                                      VersionRecordList* result, int* totalSize) {
  if (newListPath == nullptr || localListPath == nullptr || result == nullptr ||
      totalSize == nullptr) {
    return false;
  }
  m_newList.clear();
  m_localList.clear();
  m_newIndex.clear();
  m_localIndex.clear();
  if (!ReadVersionList(newListPath, &m_newList, &m_newIndex)) return false;
  if (!ReadVersionList(localListPath, &m_localList, &m_localIndex)) return false;

  result->clear();
  *totalSize = 0;
  // Summed wide and clamped: a release of more than 2 GiB must not report a
  // negative amount to download.
  int64_t total = 0;
  // The host's directory is asked for once, and only when a record needs it.
  bool startup_known = false;
  char startup_dir[kStartupDirCapacity];
  const char* startup = nullptr;

  for (const VersionRecord& record : m_newList) {
    auto local = m_localIndex.find(record.path);
    if (local == m_localIndex.end()) {
      AppendWithFlag(record, ENTRY_NEW, result);
      total += DownloadSize(record);
      continue;
    }
    if (record.key != m_localList[local->second].key) {
      AppendWithFlag(record, ENTRY_CHANGED, result);
      total += DownloadSize(record);
      continue;
    }
    // The name test comes first: it is the cheaper one, and the answer is
    // the same either way.
    if (!NamesProgramOrLibrary(record.path)) continue;
    if (!startup_known) {
      startup_known = true;
      if (GetStartupDir(startup_dir, sizeof(startup_dir))) startup = startup_dir;
    }
    if (!IsInstalled(startup, record.path)) {
      AppendWithFlag(record, ENTRY_NEW, result);
      total += DownloadSize(record);
    }
  }
  for (const VersionRecord& record : m_localList) {
    if (m_newIndex.find(record.path) == m_newIndex.end()) {
      AppendWithFlag(record, ENTRY_OBSOLETE, result);
    }
  }
  *totalSize = static_cast<int>(total > INT_MAX ? INT_MAX : total);
  return true;
}

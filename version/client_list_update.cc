#include "version/file_version.h"
#include "version/version_list.h"

bool CFileVersion::UpdateClientVersionInfo(const char* listPath, const VersionEntry& entry) {
  if (listPath == nullptr) return false;
  VersionRecord record;
  // A record whose texts run past their fields came from a broken host; its
  // path and key cannot be told apart from the bytes that follow them.
  if (!EntryToRecord(entry, &record)) return false;
  auto known = m_localIndex.find(record.path);
  if (known != m_localIndex.end()) {
    // Only the key changes: the size column keeps what the list said.
    m_localList[known->second].key = record.key;
  } else {
    // Indexed as well, so that a second call for the same new file changes
    // this record instead of listing the file twice.
    m_localIndex[record.path] = static_cast<int32_t>(m_localList.size());
    m_localList.push_back(record);
  }
  return Data2File(listPath, m_localList);
}

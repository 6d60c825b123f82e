#include "version/file_version.h"

#include <new>
#include <utility>

void CFileVersion::Reset() {
  m_scanList.clear();
  m_paths.Clear();
  m_newList.clear();
  m_localList.clear();
  m_newIndex.clear();
  m_localIndex.clear();
  m_earlierPatchDir.clear();
  m_earlierKeys.clear();
  m_earlierMembers.clear();
  m_builtMembers.clear();
  m_scanCrcs.clear();
  m_scanFacts.clear();
}

void CFileVersion::SetScanSkipDirs(std::vector<std::string> dirs) {
  m_scanSkipDirs = std::move(dirs);
}

void CFileVersion::SetEarlierRelease(std::string patchDir, std::map<std::string, std::string> keys,
                                     std::map<std::string, EarlierMember> members) {
  m_earlierPatchDir = std::move(patchDir);
  m_earlierKeys = std::move(keys);
  m_earlierMembers = std::move(members);
}

void CFileVersion::SetSourceDirs(const std::string& startupDir, const std::string& sourceDir) {
  m_paths.SetSourceDirs(startupDir, sourceDir);
}

void CFileVersion::SetScanList(VersionRecordList records, std::vector<uint32_t> crcs,
                               std::vector<ScanFacts> facts) {
  m_scanList = std::move(records);
  // Without them nothing is known of these files beyond their records: no
  // CRC to check an earlier release's files by, and no facts for a manifest.
  m_scanCrcs = std::move(crcs);
  m_scanFacts = std::move(facts);
}

// Made at load time and never destroyed: hosts may call the library from
// their own static destructors, after this module's would have run.
CFileVersion* g_fileVersion = new (std::nothrow) CFileVersion();

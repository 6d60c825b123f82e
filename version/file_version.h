// CFileVersion: the library's one long-lived object. It holds the scan list
// of the last release build, the two lists of the last update comparison
// with their indexes, the filter lists and the directories of the pipeline.
#ifndef FILEDIST_VERSION_FILE_VERSION_H
#define FILEDIST_VERSION_FILE_VERSION_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "version/version_record.h"

struct ScanFacts {
  unsigned char sha256[32] = {};
  uint64_t plainSize = 0;
  bool executable = false;
};

class CFileVersion {
 public:
  CFileVersion() = default;
  virtual ~CFileVersion() = default;
  CFileVersion(const CFileVersion&) = delete;
  CFileVersion& operator=(const CFileVersion&) = delete;

  // Empties the scan list, the four directories and the loaded lists with
  // their indexes. The filter lists and the excluded list stay.
  void Reset();

  // Directory scan and filters.
  void LoadFilters(const char* iniPath);
  void ScanDirectory(const char* dirPath);

  // Client side: compare two lists; record an installed file.
  bool GenerateUpdateList(const char* newListPath, const char* localListPath,
                          VersionRecordList* result, int* totalSize);
  bool UpdateClientVersionInfo(const char* listPath, const VersionEntry& entry);

  // The four release stages, in the order BuildVer runs them.
  int GenerateFileVersionInfo(const char* sourceDir);
  int CompressFileVersionInfo(const char* outputDir);
  int WriteFileVersionInfo();
  int GenerateReleasePatch(const char* releaseDir, char* patchDirOut);
  // After the four: the signed-release manifest of the patch directory,
  // numbered one above the newest in the release folder.
  int WriteReleaseManifest();

  VersionRecordList m_scanList;
  VersionRecordList m_newList;
  VersionRecordList m_localList;
  PathIndex m_newIndex;
  PathIndex m_localIndex;
  std::vector<std::string> m_extFilters;
  std::vector<std::string> m_fileFilters;
  std::vector<std::string> m_keywordFilters;
  std::vector<std::string> m_excludedList;
  // Files the last scan found but could not read (locked, vanished, not a
  // regular file): their keys would be wrong, so the release stops.
  std::vector<std::string> m_unreadableList;
  // The system's error code for each of them, beside it.
  std::vector<int> m_unreadableErrors;
  // Entries whose path would not fit a path buffer: they cannot be handled,
  // so the release stops rather than leave them out unseen.
  std::vector<std::string> m_tooLongList;
  // Links the last scan could not release: ones that lead nowhere and ones
  // that lead back into a directory being walked. The text of each error.
  std::vector<std::string> m_linkErrors;
  std::string m_startupDir;
  std::string m_sourceDir;
  std::string m_outputDir;
  std::string m_patchDir;
  // Directories the scan does not enter and files it does not list: the
  // release's own output (its temporary tree and earlier patch directories)
  // and the build's lock files, should they lie inside the source tree.
  // BuildVer sets them before the first stage.
  std::vector<std::string> m_scanSkipDirs;
  // The newest earlier release in the release folder, whose compressed
  // files stage 2 takes for paths whose keys have not changed, and its list
  // (path -> key). BuildVer sets them before the first stage; an empty
  // directory means every file is compressed.
  std::string m_earlierPatchDir;
  std::map<std::string, std::string> m_earlierKeys;
  // CRC-32 of each scanned file, beside m_scanList: an earlier release's
  // compressed file is checked against it, and so is what stage 2
  // compresses (a file changed since it was keyed would be released under
  // a key that is not its content's).
  std::vector<uint32_t> m_scanCrcs;
  // What the release's manifest says of each scanned file, beside
  // m_scanList: the SHA-256 of its bytes, its plain size and whether it is
  // executable. Taken while the file is read for its key.
  std::vector<ScanFacts> m_scanFacts;
};

// The one object, made at load time; null only if it could not be made.
extern CFileVersion* g_fileVersion;

#endif  // FILEDIST_VERSION_FILE_VERSION_H

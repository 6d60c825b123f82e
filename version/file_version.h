// CFileVersion: the library's one long-lived object. It holds the scan list
// of the last release build, the two lists of the last update comparison
// with their indexes, the filter lists and the directories of the pipeline.
// Its state is its own: the release stages and the client operations are its
// methods, BuildVer hands it what it settles before the stages through the
// Set* calls, and everyone else reads through the const accessors.
#ifndef FILEDIST_VERSION_FILE_VERSION_H
#define FILEDIST_VERSION_FILE_VERSION_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "version/build_paths.h"
#include "version/version_record.h"

class GzipMemberChecker;

// A compressed file an earlier build recorded: its digest and size as that
// build left it, and the key of its plain content.
struct EarlierMember {
  std::string key;
  std::string sha256;  // hexadecimal
  uint64_t size = 0;
  // What the build read of the plain content with that key: its SHA-256
  // (hexadecimal), size and CRC-32. A rebuild that finds the key unchanged
  // takes them instead of hashing the file a second way.
  std::string plainSha256;
  uint64_t plainSize = 0;
  uint32_t crc = 0;
};

struct ScanFacts {
  unsigned char sha256[32] = {};
  uint64_t plainSize = 0;
  bool executable = false;
  // False when the scan took the key alone (an earlier build's record may
  // give the rest); sha256 and the CRC-32 are then still to be found.
  bool complete = true;
};

class CFileVersion {
 public:
  CFileVersion() = default;
  virtual ~CFileVersion() = default;
  CFileVersion(const CFileVersion&) = delete;
  CFileVersion& operator=(const CFileVersion&) = delete;

  // Empties the scan list, the build's directories and the loaded lists with
  // their indexes. The filter lists and the excluded list stay.
  void Reset();

  // Directory scan and filters.
  void LoadFilters(const char* iniPath);
  void ScanDirectory(const char* dirPath);

  // Client side: compare two lists; record an installed file.
  bool GenerateUpdateList(const char* newListPath, const char* localListPath,
                          VersionRecordList* result, int* totalSize);
  bool UpdateClientVersionInfo(const char* listPath, const VersionEntry& entry);

  // What BuildVer settles before the first stage. Directories the scan does
  // not enter and files it does not list: the release's own output (its
  // temporary tree and earlier patch directories) and the build's lock
  // files, should they lie inside the source tree.
  void SetScanSkipDirs(std::vector<std::string> dirs);
  // The newest earlier release in the release folder, whose compressed
  // files stage 2 takes for paths whose keys have not changed, and its list
  // (path -> key). An empty directory means every file is compressed.
  // members: what that release's build recorded of its compressed files
  // (path -> member); a file found as recorded is taken without decoding it.
  void SetEarlierRelease(std::string patchDir, std::map<std::string, std::string> keys,
                         std::map<std::string, EarlierMember> members = {});

  // The four release stages, in the order BuildVer runs them.
  int GenerateFileVersionInfo(const char* sourceDir);
  int CompressFileVersionInfo(const char* outputDir);
  int WriteFileVersionInfo();
  // Stage 4 writes the new patch directory under a partial name (release/
  // release_dirs.h) and hands back the name it is to have.
  int GenerateReleasePatch(const char* releaseDir, char* patchDirOut);
  // Once the patch directory is whole (its Manifest and patches written):
  // renames it from its partial name to its own.
  int PlaceReleasePatch();
  // After the four: the signed-release manifest of the patch directory,
  // numbered one above the newest in the release folder.
  int WriteReleaseManifest();
  // Last: the build record of the patch directory (release/build_record.h),
  // for the next build to take unchanged files from. A failure here leaves
  // the release whole; the next build then decodes instead.
  int WriteBuildRecord();

  // What stage 1 leaves for the others: its two directories, and the scan
  // list (absolute paths, keys and sizes of the plain files). Stage 1 sets
  // them itself; a caller that found the files some other way sets them
  // before it runs stages 2 to 4. The CRC-32s and facts, one per record when
  // given, are what the scan read of each file; stage 2 checks that the bytes
  // it compresses are still those.
  void SetSourceDirs(const std::string& startupDir, const std::string& sourceDir);
  void SetScanList(VersionRecordList records, std::vector<uint32_t> crcs = {},
                   std::vector<ScanFacts> facts = {});

  // The build's directories and the paths made from them.
  const BuildPaths& paths() const { return m_paths; }
  // What the last scan found, and what it left out or could not release.
  const VersionRecordList& scan_list() const { return m_scanList; }
  const std::vector<std::string>& excluded_list() const { return m_excludedList; }
  const std::vector<std::string>& link_errors() const { return m_linkErrors; }
  // The entries of the three sections of the last Filters.ini loaded.
  const std::vector<std::string>& ext_filters() const { return m_extFilters; }
  const std::vector<std::string>& file_filters() const { return m_fileFilters; }
  const std::vector<std::string>& keyword_filters() const { return m_keywordFilters; }
  // The two lists of the last update comparison, with their indexes.
  const VersionRecordList& new_list() const { return m_newList; }
  const VersionRecordList& local_list() const { return m_localList; }
  const PathIndex& new_index() const { return m_newIndex; }
  const PathIndex& local_index() const { return m_localIndex; }

 private:
  // Stage 1's: the SHA-256 and CRC-32 of every file the scan only keyed,
  // from the earlier build's record where the key is the recorded one, else
  // read from the file again. A file that cannot be read joins the
  // unreadable ones.
  void CompleteScanFacts();
  // Stage 2's: takes the earlier release's compressed file for the scan
  // entry at index, listed as relative, into destination; *digest and *size
  // receive its SHA-256 (hexadecimal, empty when not known) and size.
  // The checker keeps its buffers from one file to the next.
  bool TakeFromEarlierRelease(size_t index, const std::string& relative,
                              const std::string& destination, GzipMemberChecker* checker,
                              std::string* digest, int64_t* size) const;

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
  // The startup, source, output and patch directories and every path the
  // stages make from them.
  BuildPaths m_paths;
  // See SetScanSkipDirs.
  std::vector<std::string> m_scanSkipDirs;
  // See SetEarlierRelease.
  std::string m_earlierPatchDir;
  std::map<std::string, std::string> m_earlierKeys;
  std::map<std::string, EarlierMember> m_earlierMembers;
  // What stage 2 left of each compressed file, beside m_scanList, for the
  // build record: an empty digest where it could not be read back.
  std::vector<EarlierMember> m_builtMembers;
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

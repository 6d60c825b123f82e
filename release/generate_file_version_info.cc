// Release stage 1: find the directories, read the filters, scan the source.
#include <cstdio>
#include <string>
#include <vector>

#include "fileio/file_key.h"
#include "release/release_names.h"
#include "signing/hex_text.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "log/release_events.h"
#include "platform/platform.h"
#include "version/file_version.h"

namespace {

const char* const kStage = "CFileVersion::GenerateFileVersionInfo";

// A Filters.ini that is there but cannot be read (a folder, a named pipe, no
// right to read it) would release every file it was to leave out: the
// build stops, naming the file. None at all leaves nothing out.
bool FiltersAreReadable(const std::string& path) {
  if (!plat::PathExists(path.c_str())) return true;
  uint32_t attributes = 0;
  bool folder =
      plat::GetAttributes(path.c_str(), &attributes) && (attributes & plat::kAttrDirectory) != 0;
  FILE* file = folder ? nullptr : plat::OpenRegularFile(path.c_str());
  if (file != nullptr) {
    std::fclose(file);
    return true;
  }
  SystemReason reason = LastSystemReason();
  if (folder || plat::IsSpecialFile(path.c_str())) {
    LogError() << "Read [" << path << "] failed: it is not a regular file but a "
               << (folder ? "folder" : "pipe, device or socket") << " in [" << kStage << "]";
  } else {
    LogError() << reason << "Read [" << path << "] failed in [" << kStage << "]";
  }
  return false;
}

}  // namespace

void CFileVersion::CompleteScanFacts() {
  for (size_t index = 0; index < m_scanList.size() && index < m_scanFacts.size(); ++index) {
    ScanFacts& facts = m_scanFacts[index];
    if (facts.complete) continue;
    facts.complete = true;
    const VersionRecord& record = m_scanList[index];
    std::string relative;
    if (GetRelPath(m_paths.source_dir().c_str(), record.path.c_str(), &relative)) {
      auto found = m_earlierMembers.find(relative);
      if (found != m_earlierMembers.end() && found->second.key == record.key &&
          found->second.plainSize == facts.plainSize &&
          ParseHexText(found->second.plainSha256, facts.sha256, sizeof facts.sha256)) {
        m_scanCrcs[index] = found->second.crc;
        continue;
      }
    }
    // New or changed: read once more, the bytes fresh in the cache.
    char key[kFileKeySize] = {};
    uint64_t size = 0;
    if (!ComputeFileDigests(record.path.c_str(), key, &m_scanCrcs[index], facts.sha256, &size) ||
        record.key != key || size != facts.plainSize) {
      // Changed between the two readings: released under neither.
      m_unreadableErrors.push_back(0);
      m_unreadableList.push_back(record.path);
    }
  }
}

int CFileVersion::GenerateFileVersionInfo(const char* sourceDir) {
  m_scanList.clear();
  m_scanCrcs.clear();
  m_scanFacts.clear();
  m_paths.Clear();
  if (sourceDir == nullptr) {
    LogError() << "[" << kStage << "] failed.";
    return 0;
  }
  char startup[kPathBufferSize];
  if (!GetStartupDir(startup, sizeof(startup))) {
    LogError() << "GetStartupDir failed in [" << kStage << "]";
    return 0;
  }

  std::string source = IOUtil_ResolvePath(sourceDir, startup);
  if (source.empty()) return 0;
  if (!plat::PathExists(source.c_str())) {
    LogError() << "Create [" << source << "] failed in [" << kStage << "]";
    return 0;
  }
  SetSourceDirs(startup, source);
  m_excludedList.clear();
  m_unreadableList.clear();
  m_unreadableErrors.clear();
  m_tooLongList.clear();
  m_linkErrors.clear();

  const std::string& filters = m_paths.filters_file();
  if (!FiltersAreReadable(filters)) return 0;
  LoadFilters(FitsPathBuffer(filters) ? filters.c_str() : nullptr);
  ScanDirectory(m_paths.source_dir().c_str());
  CompleteScanFacts();
  // A watching host has had each excluded file from the scan.
  for (const std::string& name :
       GetReleaseObserver() ? std::vector<std::string>() : m_excludedList) {
    // "文件 [%s] 根据Filters.ini被过滤" in code page 936, as the packers'
    // consoles show it.
    std::printf("\xCE\xC4\xBC\xFE [%s] \xB8\xF9\xBE\xDD%s\xB1\xBB\xB9\xFD\xC2\xCB\n", name.c_str(),
                kFiltersName);
  }
  // A file that cannot be read would be released under a key that is not
  // its contents', and every client would fetch it again and again.
  for (size_t i = 0; i < m_unreadableList.size(); ++i) {
    int error = i < m_unreadableErrors.size() ? m_unreadableErrors[i] : 0;
    LogError() << SystemReason{error} << "Read [" << m_unreadableList[i] << "] failed in ["
               << kStage << "]";
  }
  for (const std::string& text : m_linkErrors) LogError() << text << " in [" << kStage << "]";
  // Refused here, before anything is compressed, rather than released in a
  // form no client can install.
  bool names_fit = CheckReleaseNames(m_paths.source_dir(), m_scanList, m_tooLongList, kStage);
  return m_unreadableList.empty() && m_linkErrors.empty() && names_fit ? 1 : 0;
}

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "fileio/file_key.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "log/release_events.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "util/ascii_case.h"
#include "util/path_components.h"
#include "version/file_version.h"

namespace {

// Filters.ini is read a section at a time into a buffer of this size.
constexpr size_t kSectionCapacity = 4096;

// The entries of one filter line: the text before each semicolon, and the
// text after the last one if any. Nothing is trimmed; empty entries stay.
void AppendFilterEntries(const std::string& line, std::vector<std::string>* filters) {
  size_t start = 0;
  for (size_t semicolon = line.find(';'); semicolon != std::string::npos;
       semicolon = line.find(';', start)) {
    filters->push_back(line.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  if (start < line.size()) filters->push_back(line.substr(start));
}

bool AnyEntryOccursIn(const std::vector<std::string>& filters, const std::string& lowerName) {
  for (const std::string& filter : filters) {
    if (lowerName.find(filter) != std::string::npos) return true;
  }
  return false;
}

// A path as its components, so that two spellings of one directory (either
// separator, doubled separators, "." and ".." segments, letter case) compare
// equal.
std::vector<std::string> PathComponents(const std::string& path) {
  std::vector<std::string> components = util::PathComponents(util::LowerAscii(path));
  util::FoldParentSteps(&components, false);
  return components;
}

// A directory being walked: the ones from the source down to the current
// one. A link that leads to one of them would be walked for ever.
struct Walking {
  plat::FileIdentity identity;
  std::string path;
};

// What a scan reads (the filter lists) and what it fills (the object's scan
// list and the lists beside it), handed over by CFileVersion::ScanDirectory.
struct ScanContext {
  std::vector<const std::vector<std::string>*> filters;
  bool wantCrc = false;
  // Key the files and leave the rest to the earlier build's record.
  bool keyOnly = false;
  VersionRecordList* scanList = nullptr;
  std::vector<uint32_t>* scanCrcs = nullptr;
  std::vector<ScanFacts>* scanFacts = nullptr;
  std::vector<std::string>* excluded = nullptr;
  std::vector<std::string>* unreadable = nullptr;
  std::vector<int>* unreadableErrors = nullptr;
  std::vector<std::string>* tooLong = nullptr;
  std::vector<std::string>* linkErrors = nullptr;
  std::vector<std::vector<std::string>> skipDirs;
  std::vector<Walking> walking;
};

bool IsSkipped(const ScanContext& context, const std::string& path) {
  if (context.skipDirs.empty()) return false;
  std::vector<std::string> components = PathComponents(path);
  for (const std::vector<std::string>& skip : context.skipDirs) {
    if (skip == components) return true;
  }
  return false;
}

// True when one of the filter lists excludes the file; the name goes into
// the excluded list once for every list that matched.
bool IsExcluded(ScanContext& context, const std::string& name) {
  std::string lowerName = util::LowerAscii(name);
  int lists = 0;
  for (const std::vector<std::string>* filters : context.filters) {
    if (AnyEntryOccursIn(*filters, lowerName)) {
      context.excluded->push_back(lowerName);
      ++lists;
    }
  }
  if (lists > 0) {
    if (ReleaseObserver* observer = GetReleaseObserver()) observer->FileExcluded(lowerName, lists);
  }
  return lists > 0;
}

void ScanTree(ScanContext& context, const std::string& dir);

// Walks the directory at path (reached through a link or not) unless it is
// one of those being walked.
void EnterDirectory(ScanContext& context, const std::string& path,
                    const plat::FileIdentity& identity) {
  for (const Walking& walking : context.walking) {
    if (!(walking.identity == identity)) continue;
    context.linkErrors->push_back("Link [" + path + "] leads back into [" + walking.path +
                                  "], which contains it");
    return;
  }
  context.walking.push_back(Walking{identity, path});
  ScanTree(context, path);
  context.walking.pop_back();
}

void ScanTree(ScanContext& context, const std::string& dir) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(dir, &entries)) return;
  for (const plat::DirEntry& entry : entries) {
    std::string path;
    // A path that would not fit a path buffer cannot be released; the
    // release says so instead of leaving the entry out unseen.
    if (!FormatChildPath(dir, entry.name.c_str(), &path)) {
      bool directory = (entry.attributes & plat::kAttrDirectory) != 0;
      if (directory || !IsExcluded(context, entry.name)) {
        context.tooLong->push_back(dir + plat::kPathSeparator + entry.name);
      }
      continue;
    }
    bool directory = (entry.attributes & plat::kAttrDirectory) != 0;
    if (entry.attributes & plat::kAttrReparsePoint) {
      // A link is released as what it leads to: a directory is walked, a
      // file is keyed. One that leads nowhere would leave a file out.
      plat::FileIdentity target;
      if (!plat::GetFileIdentity(path.c_str(), &target, &directory)) {
        // Unless the filters leave it out anyway.
        if (!IsExcluded(context, entry.name)) {
          context.linkErrors->push_back("Link [" + path + "] leads to nothing");
        }
        continue;
      }
      if (directory) {
        if (!IsSkipped(context, path)) EnterDirectory(context, path, target);
        continue;
      }
    } else if (directory) {
      if (IsSkipped(context, path)) continue;
      plat::FileIdentity identity;
      if (plat::GetFileIdentity(path.c_str(), &identity)) {
        EnterDirectory(context, path, identity);
      } else {
        ScanTree(context, path);
      }
      continue;
    }
    if (IsSkipped(context, path)) continue;
    if (IsExcluded(context, entry.name)) continue;
    VersionRecord record;
    char key[kFileKeySize] = {};
    uint32_t crc = 0;
    ScanFacts facts;
    facts.complete = !context.keyOnly;
    if (!ComputeFileDigests(path.c_str(), key, context.keyOnly ? nullptr : &crc,
                            context.keyOnly ? nullptr : facts.sha256, &facts.plainSize)) {
      context.unreadableErrors->push_back(plat::LastSystemError());
      context.unreadable->push_back(path);
    }
    context.scanCrcs->push_back(crc);
    facts.executable = plat::IsExecutableFile(path.c_str());
    context.scanFacts->push_back(facts);
    record.key = key;
    record.size = static_cast<int32_t>(static_cast<uint32_t>(entry.size));
    LogInfo() << "MD5 [" << path << "] = " << record.key;
    if (ReleaseObserver* observer = GetReleaseObserver()) {
      observer->FileKeyed(path, entry.size, record.key);
    }
    record.path = std::move(path);
    context.scanList->push_back(std::move(record));
  }
}

}  // namespace

void CFileVersion::LoadFilters(const char* iniPath) {
  m_extFilters.clear();
  m_fileFilters.clear();
  m_keywordFilters.clear();
  if (iniPath == nullptr || !plat::PathExists(iniPath)) return;
  const struct {
    const char* section;
    std::vector<std::string>* filters;
  } sections[] = {{"Ext", &m_extFilters}, {"File", &m_fileFilters}, {"Keyword", &m_keywordFilters}};
  for (const auto& section : sections) {
    // Only the first line of a section counts: the text up to the first NUL.
    std::string text = plat::ReadIniSection(iniPath, section.section, kSectionCapacity);
    std::string line(text.c_str());
    if (!line.empty()) AppendFilterEntries(line, section.filters);
  }
}

void CFileVersion::ScanDirectory(const char* dirPath) {
  if (dirPath == nullptr) return;
  ScanContext context;
  context.filters = {&m_extFilters, &m_fileFilters, &m_keywordFilters};
  // The CRC-32 is wanted only to check an earlier release's files by.
  context.wantCrc = !m_earlierPatchDir.empty();
  // A file that has not changed since the earlier build needs no more than
  // its key: that build recorded its SHA-256 and CRC-32 (CompleteScanFacts).
  context.keyOnly = !m_earlierMembers.empty();
  context.scanList = &m_scanList;
  context.scanCrcs = &m_scanCrcs;
  context.scanFacts = &m_scanFacts;
  context.excluded = &m_excludedList;
  context.unreadable = &m_unreadableList;
  context.unreadableErrors = &m_unreadableErrors;
  context.tooLong = &m_tooLongList;
  context.linkErrors = &m_linkErrors;
  for (const std::string& skip : m_scanSkipDirs) context.skipDirs.push_back(PathComponents(skip));
  plat::FileIdentity identity;
  if (plat::GetFileIdentity(dirPath, &identity)) {
    context.walking.push_back(Walking{identity, dirPath});
  }
  ScanTree(context, dirPath);
}

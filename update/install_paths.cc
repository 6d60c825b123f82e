#include "update/install_paths.h"

#include <cstdio>
#include <memory>

#include "fileio/file_key.h"
#include "fileio/md5.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "protocol/release_manifest.h"
#include "update/fault_point.h"
#include "util/path_components.h"
#include "util/scoped_file.h"

namespace update {

const char* const kClientListName = kVersionListName;
const char* const kKeyFileName = kListKeyName;
const char* const kStagingName = ".filedist-staging";
const char* const kJournalName = ".filedist-journal";
const char* const kLockName = ".filedist-lock";
const char* const kAsideListName = ".filedist-aside";
const char* const kLogName = "BuildVer.log";
const char* const kTrustedKeyName = "filedist.pub";
const char* const kReleaseStateName = ".filedist-release";
const char* const kInstallRecordName = ".filedist-install";
const char* const kInstallRecordTemporaryName = ".filedist-install.new";
const char* const kTriedSourceName = ".filedist-source";
const char* const kTriedSourceTemporaryName = ".filedist-source.new";
const char* const kInstallIdName = ".filedist-id";
const char* const kInstallIdTemporaryName = ".filedist-id.new";

bool SplitReleasePath(const std::string& path, std::vector<std::string>* parts,
                      std::string* reason) {
  parts->clear();
  if (path.empty()) {
    *reason = "is empty";
    return false;
  }
  if (plat::IsPathSeparator(path[0])) {
    *reason = "is absolute";
    return false;
  }
  if (path.find(':') != std::string::npos) {
    *reason = "names a drive or a stream";
    return false;
  }
  // Checked on the whole path first: a NUL would end the name the system is
  // given, past every check made on the rest.
  if (path.find('\0') != std::string::npos) {
    *reason = "holds a NUL byte";
    return false;
  }
  *parts = util::PathComponents(path);
  for (const std::string& part : *parts) {
    std::string problem = plat::EntryNameProblem(part);
    if (!problem.empty()) {
      parts->clear();
      *reason = "has the name '" + part + "', which " + problem;
      return false;
    }
  }
  // ".." is refused outright, also where it would stay inside: no release
  // build writes one, so any is a sign of a forged list.
  if (util::HasParentStep(*parts)) {
    parts->clear();
    *reason = "climbs out of the install directory";
    return false;
  }
  if (parts->empty()) {
    *reason = "names no file";
    return false;
  }
  return true;
}

std::string FoldedInstallPath(const std::vector<std::string>& parts) {
  std::string folded;
  for (const std::string& part : parts) {
    if (!folded.empty()) folded += '/';
    folded += plat::EntryNameFold(part);
  }
  return folded;
}

std::string JoinInstallPath(const std::string& base, const std::vector<std::string>& parts) {
  std::string joined = base;
  for (const std::string& part : parts) {
    if (joined.empty() || !plat::IsPathSeparator(joined.back())) joined += plat::kPathSeparator;
    joined += part;
  }
  return joined;
}

void RemoveEmptyFolders(const std::string& installDir, const std::vector<std::string>& parts) {
  for (size_t depth = parts.size() - 1; depth > 0; --depth) {
    std::vector<std::string> prefix(parts.begin(), parts.begin() + depth);
    std::string dir = JoinInstallPath(installDir, prefix);
    std::vector<plat::DirEntry> entries;
    if (plat::IsLinkEntry(dir) || !plat::ListDirectory(dir, &entries) || !entries.empty()) return;
    FaultPoint();
    if (!plat::RemoveEmptyDirectory(dir.c_str())) return;
  }
}

bool IsUpdaterEntry(const std::string& firstPart, const std::string& programName) {
  // A release never writes the key it is checked with, nor the number
  // that keeps older releases out.
  static const char* const kOwn[] = {kClientListName,
                                     kKeyFileName,
                                     kStagingName,
                                     kJournalName,
                                     kLockName,
                                     kLogName,
                                     kAsideListName,
                                     kTrustedKeyName,
                                     kReleaseStateName,
                                     kInstallRecordName,
                                     kInstallRecordTemporaryName,
                                     kTriedSourceName,
                                     kTriedSourceTemporaryName,
                                     kInstallIdName,
                                     kInstallIdTemporaryName};
  for (const char* own : kOwn) {
    if (plat::SameEntryName(firstPart, own)) return true;
  }
  return !programName.empty() && plat::SameEntryName(firstPart, programName);
}

bool IsInstallFolder(const std::string& dir, const std::string& programName) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(dir, &entries)) return false;
  static const char* const kState[] = {kClientListName,   kInstallRecordName, kTriedSourceName,
                                       kReleaseStateName, kStagingName,       kJournalName};
  bool only_own = true;
  for (const plat::DirEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    for (const char* state : kState) {
      if (plat::SameEntryName(entry.name, state)) return true;
    }
    if (!IsUpdaterEntry(entry.name, programName)) only_own = false;
  }
  return only_own;
}

bool LinkStaysInside(const std::string& link, const std::string& installDir) {
  if (!plat::PathExists(link.c_str()) || !plat::ResolvesInside(link, installDir)) return false;
  if (plat::ResolvesInside(installDir, link)) return false;
  static const char* const kOwnFolders[] = {kStagingName};
  for (const char* own : kOwnFolders) {
    std::string folder = JoinInstallPath(installDir, {own});
    if (plat::PathExists(folder.c_str()) && plat::ResolvesInside(link, folder)) return false;
  }
  return true;
}

bool KeyOfInstalledFile(const std::string& path, std::string* key) {
  if (plat::IsLinkEntry(path)) return false;
  util::ScopedFile file(plat::OpenFile(path.c_str(), "rb"));
  if (!file) return false;
  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
  Md5State state;
  Md5Init(&state);
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kChunk, file.get());
    if (got == 0) break;
    Md5Update(&state, buffer.get(), got);
  }
  if (std::ferror(file.get())) return false;
  unsigned char digest[16];
  Md5Final(&state, digest);
  *key = FileKeyOfDigest(digest);
  return true;
}

bool EntryExists(const std::string& path) {
  return plat::PathExists(path.c_str()) || plat::IsLinkEntry(path);
}

}  // namespace update

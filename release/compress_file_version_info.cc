// Release stage 2: compress every listed file into the temporary tree and
// turn each record into what the version list publishes: the path relative
// to the source directory and the size of the compressed file.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fileio/gzip_check.h"
#include "fileio/gzip_compress.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "log/release_events.h"
#include "platform/file_links.h"
#include "platform/platform.h"
#include "signing/sha256.h"
#include "version/file_version.h"
#include "zipengine/fast/fast_deflate.h"

namespace {

const char* const kStage = "CFileVersion::CompressFileVersionInfo";

}  // namespace

// Takes the earlier release's compressed file for a path whose key has not
// changed. The build that made that release recorded the file's digest: a
// file that still has it is taken as it is, read once to hash and never
// decoded. One with no record, or another digest, is taken once it has been
// decoded whole and found to hold bytes of the source's CRC-32 and length;
// a damaged or foreign file there is compressed afresh instead. The file is
// given a second name where the file system allows (both releases only ever
// read it) and copied elsewhere. A read-only one is left alone, so that the
// temporary tree can be removed.
bool CFileVersion::TakeFromEarlierRelease(size_t index, const std::string& relative,
                                          const std::string& destination,
                                          GzipMemberChecker* checker, std::string* digest,
                                          int64_t* size) const {
  digest->clear();
  if (m_earlierPatchDir.empty() || index >= m_scanCrcs.size()) return false;
  auto listed = m_earlierKeys.find(relative);
  const VersionRecord& record = m_scanList[index];
  if (listed == m_earlierKeys.end() || listed->second != record.key) return false;
  std::string earlier;
  uint32_t attributes = 0;
  if (!Combine(m_earlierPatchDir.c_str(), relative.c_str(), &earlier) ||
      !plat::GetAttributes(earlier.c_str(), &attributes) ||
      (attributes & (plat::kAttrReadOnly | plat::kAttrDirectory))) {
    return false;
  }
  auto recorded = m_earlierMembers.find(relative);
  uint64_t hashed_size = 0;
  if (recorded != m_earlierMembers.end() && recorded->second.key == record.key &&
      Sha256OfFile(earlier.c_str(), digest, &hashed_size) && *digest == recorded->second.sha256 &&
      hashed_size == recorded->second.size && hashed_size <= INT32_MAX) {
    *size = static_cast<int64_t>(hashed_size);
  } else {
    digest->clear();
    if (!checker->IsMemberOf(earlier.c_str(), m_scanCrcs[index],
                             static_cast<uint32_t>(record.size))) {
      return false;
    }
    // The size of the bytes the check read whole (its own file, which no
    // build writes again) saves opening it once more.
    *size = checker->file_size() != 0 && checker->file_size() <= INT32_MAX
                ? static_cast<int64_t>(checker->file_size())
                : -1;
  }
  // A file left by a build that failed before.
  if (plat::PathExists(destination.c_str()) && !plat::RemoveFile(destination.c_str())) return false;
  return plat::LinkFile(earlier.c_str(), destination.c_str()) ||
         plat::CopyFileOver(earlier.c_str(), destination.c_str());
}

namespace {

// The size of a compressed file, all 64 bits of it; -1 when it cannot be
// opened.
int64_t CompressedFileSize(const std::string& path) {
  FILE* file = plat::OpenFile(path.c_str(), "rb");
  if (file == nullptr) return -1;
  int64_t length = plat::FileLength(file);
  std::fclose(file);
  return length;
}

}  // namespace

int CFileVersion::CompressFileVersionInfo(const char* outputDir) {
  if (outputDir == nullptr) return 0;
  std::string output = IOUtil_ResolvePath(outputDir, m_paths.startup_dir());
  if (output.empty()) return 0;
  if (!plat::PathExists(output.c_str()) && !IOUtil_MakeDirTree(output.c_str())) return 0;
  m_paths.SetOutputDir(output);
  const std::string& temporary_tree = m_paths.temporary_tree();
  if (!FitsPathBuffer(temporary_tree)) {
    LogError() << "Combine [" << output << "] and [" << kCompressTempName << "] failed in ["
               << kStage << "]";
    return 0;
  }

  // One stream for the whole stage: its buffers are made once, not per file.
  zipengine::FastGzipStream stream;
  GzipMemberChecker checker;
  m_builtMembers.assign(m_scanList.size(), EarlierMember());
  for (size_t index = 0; index < m_scanList.size(); ++index) {
    VersionRecord& record = m_scanList[index];
    std::string relative;
    if (!GetRelPath(m_paths.source_dir().c_str(), record.path.c_str(), &relative)) {
      LogError() << "GetRelPath for [" << record.path << "] failed in [" << kStage << "]";
      return 0;
    }
    std::string destination;
    if (!Combine(temporary_tree.c_str(), relative.c_str(), &destination)) {
      LogError() << "Combine [" << temporary_tree << "] and [" << relative << "] failed in ["
                 << kStage << "]";
      return 0;
    }
    std::string parent;
    if (!SplitParentDir(destination, &parent)) return 0;
    if (!IOUtil_MakeDirTree(parent.c_str())) {
      SystemReason reason = LastSystemReason();
      LogError() << reason << "CreateDirTree for [" << parent << "] failed in [" << kStage << "]";
      return 0;
    }
    std::string digest;
    int64_t taken_size = -1;
    bool taken =
        TakeFromEarlierRelease(index, relative, destination, &checker, &digest, &taken_size);
    if (!taken) {
      int64_t compressed = IOUtil_CompressFile(record.path.c_str(), destination.c_str(), &stream);
      if (compressed < 0) {
        SystemReason reason = LastSystemReason();
        LogError() << reason << "IOUtil_CompressFile From [" << record.path << "] To ["
                   << destination << "] failed";
        return 0;
      }
      // The key, size and digest listed for the file come from the scan's
      // reading of it; a file that changed since would be released under
      // them with other bytes, and no client could ever install it.
      if (index < m_scanCrcs.size() && index < m_scanFacts.size() &&
          (stream.input_crc() != m_scanCrcs[index] ||
           static_cast<uint64_t>(compressed) != m_scanFacts[index].plainSize)) {
        LogError() << "[" << record.path << "] changed after it was keyed in [" << kStage << "]";
        return 0;
      }
    }
    // The scan's record holds 32 bits of the plain size; its facts all.
    uint64_t plain_size = index < m_scanFacts.size() ? m_scanFacts[index].plainSize
                                                     : static_cast<uint32_t>(record.size);
    // The digest of what goes out, for the build record; a file read back
    // here was written a moment ago and is still in the cache.
    uint64_t hashed_size = 0;
    if (digest.empty() && !Sha256OfFile(destination.c_str(), &digest, &hashed_size)) digest.clear();
    int64_t compressed_size = hashed_size != 0  ? static_cast<int64_t>(hashed_size)
                              : taken_size >= 0 ? taken_size
                                                : CompressedFileSize(destination);
    // The list keeps 32 bits (2 GiB and more read back as negative, which
    // clients take as unsigned): a file of 4 GiB and more compressed would
    // be listed with another size and no client could ever install it.
    if (compressed_size > static_cast<int64_t>(UINT32_MAX)) {
      LogError() << "[" << record.path << "] compresses to " << compressed_size
                 << " bytes, more than the " << UINT32_MAX
                 << " a version list can carry; leave it out with Filters.ini or split it in ["
                 << kStage << "]";
      return 0;
    }
    record.size = static_cast<int32_t>(static_cast<uint32_t>(compressed_size));
    EarlierMember& built = m_builtMembers[index];
    built.key = record.key;
    built.sha256 = std::move(digest);
    built.size = static_cast<uint64_t>(compressed_size);
    record.path = std::move(relative);
    if (ReleaseObserver* observer = GetReleaseObserver()) {
      observer->FileCompressed(record.path, plain_size, record.size, taken);
    } else {
      std::printf("Compress (%s) = %d\n", record.path.c_str(), record.size);
    }
    LogInfo() << "Compress [" << record.path << "] = " << record.size;
  }
  return 1;
}

#include "release/release_patches.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <tuple>

#include "delta/patch_make.h"
#include "fileio/file_key.h"
#include "fileio/gzip_check.h"
#include "fileio/io_util.h"
#include "fileio/replacement_file.h"
#include "log/logger.h"
#include "log/release_events.h"
#include "platform/platform.h"
#include "platform/bounded_file.h"
#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"
#include "signing/sha256.h"
#include "util/ascii_case.h"

namespace {

const char* const kStage = "CFileVersion::WriteReleasePatches";

std::string Sha256OfBytes(const std::string& bytes) {
  Sha256 digest;
  digest.Update(bytes.data(), bytes.size());
  unsigned char result[kSha256Size];
  digest.Final(result);
  return Sha256Hex(result);
}

// The plain size a gzip file gives in its trailer (modulo 4 GiB), read
// before the file is expanded so that one too large to patch is not.
bool GzipPlainSize(const std::string& path, uint64_t* size) {
  FILE* file = plat::OpenFile(path.c_str(), "rb");
  if (file == nullptr) return false;
  int64_t length = plat::FileLength(file);
  unsigned char trailer[4];
  bool read =
      length >= 18 && std::fseek(file, -4, SEEK_END) == 0 && std::fread(trailer, 1, 4, file) == 4;
  std::fclose(file);
  if (!read) return false;
  *size = uint64_t{trailer[0]} | uint64_t{trailer[1]} << 8 | uint64_t{trailer[2]} << 16 |
          uint64_t{trailer[3]} << 24;
  return true;
}

// The names the patches take in the patch directory, which a released file
// at the top of the tree would take first.
bool NamesAreFree(const VersionRecordList& records) {
  const std::string taken[] = {util::LowerAscii(kPatchIndexName),
                               util::LowerAscii(kPatchIndexSignatureName),
                               util::LowerAscii(kPatchFolderName)};
  for (const VersionRecord& record : records) {
    std::string path = util::LowerAscii(record.path);
    for (const std::string& name : taken) {
      if (path == ".\\" + name || path.compare(0, name.size() + 3, ".\\" + name + "\\") == 0) {
        LogWarning() << "[" << record.path << "] takes the name of the release's patches; "
                     << "no patches are made in [" << kStage << "]";
        return false;
      }
    }
  }
  return true;
}

// One released file's patches.
class FilePatcher {
 public:
  FilePatcher(const std::string& patchDir, const VersionRecord& record, std::string plain)
      : patch_dir_(patchDir), record_(record), new_(std::move(plain)) {}

  // Makes the patch from the earlier content with oldKey, which the
  // earlier patch directory holds compressed under the same path. False
  // only when the patch directory cannot be written.
  bool MakeFrom(const std::string& earlierDir, const std::string& oldKey,
                std::vector<PatchEntry>* entries);

 private:
  const std::string& patch_dir_;
  const VersionRecord& record_;
  std::string new_;
};

bool FilePatcher::MakeFrom(const std::string& earlierDir, const std::string& oldKey,
                           std::vector<PatchEntry>* entries) {
  std::string member;
  uint64_t old_size = 0;
  if (!Combine(earlierDir.c_str(), record_.path.c_str(), &member) ||
      !GzipPlainSize(member, &old_size)) {
    return true;
  }
  if (!delta::PatchFitsThisProcess(old_size, new_.size())) {
    LogWarning() << "No patch for [" << record_.path << "] from [" << member << "]: " << old_size
                 << " and " << new_.size() << " bytes need about "
                 << (delta::PatchMakeMemory(old_size, new_.size()) >> 20)
                 << " MiB, more than this build makes patches with in [" << kStage << "]";
    return true;
  }
  std::string old;
  if (!GunzipFileToString(member.c_str(), static_cast<size_t>(old_size), &old) ||
      old.size() != old_size || FileKeyOfBytes(old.data(), old.size()) != oldKey) {
    LogInfo() << "No patch for [" << record_.path << "]: [" << member
              << "] does not hold the content its release lists";
    return true;
  }
  std::vector<uint8_t> patch;
  std::string error;
  if (!delta::MakePatch(reinterpret_cast<const uint8_t*>(old.data()), old.size(),
                        reinterpret_cast<const uint8_t*>(new_.data()), new_.size(), &patch,
                        &error)) {
    LogWarning() << "No patch for [" << record_.path << "]: " << error << " in [" << kStage << "]";
    return true;
  }
  uint64_t compressed = static_cast<uint32_t>(record_.size);
  if (patch.size() * uint64_t{10} > compressed * 9) return true;

  PatchEntry entry;
  entry.oldKey = oldKey;
  entry.oldSha256 = Sha256OfBytes(old);
  entry.oldSize = old.size();
  entry.patchSha256 = Sha256OfBytes(std::string(patch.begin(), patch.end()));
  entry.patchSize = patch.size();
  // Named for the two contents: a path whose file another path shares
  // shares the patch file too.
  entry.patchPath = std::string(".\\") + kPatchFolderName + "\\" + oldKey + "-" + record_.key;
  entry.resultPath = record_.path;
  std::string folder;
  std::string target;
  if (!FormatChildPath(patch_dir_, kPatchFolderName, &folder) ||
      !FormatChildPath(folder, (oldKey + "-" + record_.key).c_str(), &target) ||
      !IOUtil_MakeDirTree(folder.c_str()) ||
      (!plat::PathExists(target.c_str()) &&
       !WriteReplacement(target, patch.data(), patch.size()))) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Write file [" << target << "] failed in [" << kStage << "]";
    return false;
  }
  LogInfo() << "Patch [" << record_.path << "] from " << oldKey << " = " << patch.size();
  if (ReleaseObserver* observer = GetReleaseObserver()) {
    observer->PatchMade(record_.path, oldKey, patch.size(), compressed);
  } else {
    std::printf("Patch (%s) = %zu\n", record_.path.c_str(), patch.size());
  }
  entries->push_back(std::move(entry));
  return true;
}

}  // namespace

bool WriteReleasePatches(const CFileVersion& version, const std::vector<EarlierRelease>& earlier) {
  const VersionRecordList& records = version.scan_list();
  const std::string& patch_dir = version.paths().patch_dir();
  if (earlier.empty() || patch_dir.empty() || !NamesAreFree(records)) return true;
  std::vector<PatchEntry> entries;
  for (const VersionRecord& record : records) {
    // Each earlier content once, from the newest release that holds it.
    std::map<std::string, const EarlierRelease*> sources;
    for (const EarlierRelease& release : earlier) {
      auto listed = release.keys.find(record.path);
      if (listed != release.keys.end() && listed->second != record.key) {
        sources.emplace(listed->second, &release);
      }
    }
    if (sources.empty()) continue;
    std::string source;
    std::string plain;
    if (!Combine(version.paths().source_dir().c_str(), record.path.c_str(), &source) ||
        !plat::ReadBoundedFile(source.c_str(), static_cast<size_t>(delta::kMaxPatchSourceSize),
                               &plain) ||
        FileKeyOfBytes(plain.data(), plain.size()) != record.key) {
      LogInfo() << "No patch for [" << record.path << "]: it changed since it was released";
      continue;
    }
    FilePatcher patcher(patch_dir, record, std::move(plain));
    for (const auto& found : sources) {
      if (!patcher.MakeFrom(found.second->patchDir, found.first, &entries)) return false;
    }
  }
  if (entries.empty()) return true;
  std::sort(entries.begin(), entries.end(), [](const PatchEntry& a, const PatchEntry& b) {
    return std::tie(a.resultPath, a.oldKey) < std::tie(b.resultPath, b.oldKey);
  });
  PatchIndex index;
  index.patches = std::move(entries);
  std::string index_path;
  if (!Sha256OfFile(version.paths().patch_manifest().c_str(), &index.manifestSha256,
                    &index.manifestSize) ||
      !FormatChildPath(patch_dir, kPatchIndexName, &index_path)) {
    LogError() << "SHA-256 of [" << version.paths().patch_manifest() << "] failed in [" << kStage
               << "]";
    return false;
  }
  std::string text = FormatPatchIndex(index);
  if (!WriteReplacement(index_path, text.data(), text.size())) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Write file [" << index_path << "] failed in [" << kStage << "]";
    return false;
  }
  return true;
}

// After the patch directory is whole: its Manifest, which a signature can
// cover (filedist build --sign) and a client can check everything against.
// The version list and key file stay as they were; the manifest stands
// beside them.
#include <cstdio>
#include <string>

#include "fileio/io_util.h"
#include "fileio/replacement_file.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "platform/system_error.h"
#include "release/release_sequence.h"
#include "protocol/release_manifest.h"
#include "signing/sha256.h"
#include "version/file_version.h"

namespace {

const char* const kStage = "CFileVersion::WriteReleaseManifest";

// Size of the file at path in bytes; false when it cannot be opened.
bool FileSize(const std::string& path, uint64_t* size) {
  FILE* file = plat::OpenFile(path.c_str(), "rb");
  if (file == nullptr) return false;
  int64_t length = plat::FileLength(file);
  std::fclose(file);
  if (length < 0) return false;
  *size = static_cast<uint64_t>(length);
  return true;
}

bool DescribeListFile(const std::string& path, std::string* sha256, uint64_t* size) {
  if (FitsPathBuffer(path) && Sha256OfFile(path.c_str(), sha256, size)) return true;
  SystemReason reason = LastSystemReason();
  LogError() << reason << "SHA-256 of [" << path << "] failed in [" << kStage << "]";
  return false;
}

}  // namespace

int CFileVersion::WriteReleaseManifest() {
  const std::string& patch_dir = m_paths.patch_dir();
  std::string release_dir;
  if (!SplitParentDir(patch_dir, &release_dir) || m_scanFacts.size() != m_scanList.size()) {
    LogError() << "No patch directory for the manifest in [" << kStage << "]";
    return 0;
  }
  ReleaseManifest manifest;
  manifest.sequence = NextReleaseSequence(release_dir);
  if (manifest.sequence == 0) {
    LogError() << "The release folder [" << release_dir << "] has used up its sequence numbers in ["
               << kStage << "]";
    return 0;
  }
  manifest.built = CurrentUtcTime();
  if (!DescribeListFile(m_paths.patch_list(), &manifest.verCompSha256, &manifest.verCompSize) ||
      !DescribeListFile(m_paths.patch_key(), &manifest.verSha256, &manifest.verSize)) {
    return 0;
  }
  manifest.files.reserve(m_scanList.size());
  for (size_t index = 0; index < m_scanList.size(); ++index) {
    ManifestFile file;
    file.path = m_scanList[index].path;
    file.sha256 = Sha256Hex(m_scanFacts[index].sha256);
    file.size = m_scanFacts[index].plainSize;
    file.executable = m_scanFacts[index].executable;
    std::string compressed;
    if (!Combine(patch_dir.c_str(), file.path.c_str(), &compressed) ||
        !FileSize(compressed, &file.gzipSize)) {
      SystemReason reason = LastSystemReason();
      LogError() << reason << "Size of [" << compressed << "] failed in [" << kStage << "]";
      return 0;
    }
    manifest.files.push_back(std::move(file));
  }
  std::string text = FormatManifest(manifest);
  // A manifest that its own readers would refuse must not go out.
  ReleaseManifest reread;
  std::string fault;
  if (!ParseManifest(text, &reread, &fault)) {
    LogError() << "The manifest would not read back (" << fault << ") in [" << kStage << "]";
    return 0;
  }
  const std::string& path = m_paths.patch_manifest();
  if (!FitsPathBuffer(path) || !WriteReplacement(path, text.data(), text.size())) {
    SystemReason reason = LastSystemReason();
    LogError() << reason << "Write file [" << path << "] failed in [" << kStage << "]";
    return 0;
  }
  return 1;
}

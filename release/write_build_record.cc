// After the release is whole: the build record of its patch directory
// (release/build_record.h), which only the next build reads.
#include <cstdio>
#include <string>
#include <vector>

#include "fileio/io_util.h"
#include "fileio/replacement_file.h"
#include "log/logger.h"
#include "release/build_record.h"
#include "signing/sha256.h"
#include "version/file_version.h"

namespace {

const char* const kStage = "CFileVersion::WriteBuildRecord";

}  // namespace

int CFileVersion::WriteBuildRecord() {
  const std::string& patch_dir = m_paths.patch_dir();
  if (patch_dir.empty() || m_builtMembers.size() != m_scanList.size()) return 0;
  std::vector<BuildRecordLine> lines;
  lines.reserve(m_scanList.size());
  for (size_t index = 0; index < m_scanList.size(); ++index) {
    const VersionRecord& record = m_scanList[index];
    // A file whose digest is not known is left out: the next build decodes it.
    if (m_builtMembers[index].sha256.empty() || index >= m_scanFacts.size() ||
        index >= m_scanCrcs.size()) {
      continue;
    }
    BuildRecordLine line{record.path, m_builtMembers[index]};
    line.member.plainSha256 = Sha256Hex(m_scanFacts[index].sha256);
    line.member.plainSize = m_scanFacts[index].plainSize;
    line.member.crc = m_scanCrcs[index];
    lines.push_back(std::move(line));
  }
  std::string path = BuildRecordPath(patch_dir);
  std::string text = FormatBuildRecord(lines);
  std::string folder;
  if (path.empty() || !FitsPathBuffer(path) || !SplitParentDir(path, &folder) ||
      !IOUtil_MakeDirTree(folder.c_str()) || !WriteReplacement(path, text.data(), text.size())) {
    LogWarning() << "Write file [" << path << "] failed in [" << kStage << "]";
    return 0;
  }
  return 1;
}

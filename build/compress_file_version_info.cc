// Release stage 2: compress every listed file into the temporary tree and
// turn each record into what the version list publishes: the path relative
// to the source directory and the size of the compressed file.
#include <cstdio>
#include <string>

#include "fileio/gzip_compress.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "platform/platform.h"
#include "version/file_version.h"
#include "zipengine/fast_deflate.h"

namespace {

const char* const kStage = "CFileVersion::CompressFileVersionInfo";

}  // namespace

int CFileVersion::CompressFileVersionInfo(const char* outputDir) {
  if (outputDir == nullptr) return 0;
  std::string output = IOUtil_ResolvePath(outputDir, m_startupDir);
  if (output.empty()) return 0;
  if (!plat::PathExists(output.c_str()) && !IOUtil_MakeDirTree(output.c_str())) return 0;
  m_outputDir = output;
  std::string temporary_tree;
  if (!FormatChildPath(m_outputDir, kCompressTempName, &temporary_tree)) {
    LogError() << "Combine [" << m_outputDir << "] and [" << kCompressTempName << "] failed in ["
               << kStage << "]";
    return 0;
  }

  zipengine::FastGzipStream stream;
  for (VersionRecord& record : m_scanList) {
    std::string relative;
    if (!GetRelPath(m_sourceDir.c_str(), record.path.c_str(), &relative)) {
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
      LogError() << "CreateDirTree for [" << parent << "] failed in [" << kStage << "]";
      return 0;
    }
    if (IOUtil_CompressFile(record.path.c_str(), destination.c_str(), &stream) < 0) {
      LogError() << "IOUtil_CompressFile From [" << record.path << "] To [" << destination
                 << "] failed";
      return 0;
    }
    record.size = IOUtil_GetFileSize(destination.c_str());
    record.path = std::move(relative);
    std::printf("Compress (%s) = %d\n", record.path.c_str(), record.size);
    LogInfo() << "Compress [" << record.path << "] = " << record.size;
  }
  return 1;
}

// BuildVer: the release pipeline's entry point.
#include <string>

#include "build/release_dirs.h"
#include "common.h"
#include "fileio/io_util.h"
#include "platform/platform.h"
#include "version/file_version.h"

extern "C" COMMON_API int COMMON_CALL BuildVer(const char* sourceDir, const char* outputDir,
                                               const char* releaseDir, char* patchDirOut) {
  if (g_fileVersion == nullptr) return 0;
  CFileVersion& version = *g_fileVersion;
  version.Reset();
  // Known before the scan, so that a release made inside its own source tree
  // does not take in its earlier output.
  version.m_scanSkipDirs = ReleaseOutputDirs(outputDir, releaseDir);
  if (!version.GenerateFileVersionInfo(sourceDir)) return 0;
  if (!version.CompressFileVersionInfo(outputDir)) return 0;
  if (!version.WriteFileVersionInfo()) return 0;
  if (!version.GenerateReleasePatch(releaseDir, patchDirOut)) return 0;
  std::string temporary_tree = version.m_outputDir + plat::kPathSeparator + kCompressTempName;
  // A source tree inside the temporary tree would go with it.
  if (!IsSameOrInside(version.m_sourceDir, temporary_tree.c_str())) {
    IOUtil_RemoveDirTree(temporary_tree.c_str());
  }
  return 1;
}

// MakeClientFile: puts a fetched release file into its place on the client.
#include <cstdio>
#include <memory>
#include <string>

#include "common.h"
#include "fileio/gzip_decompress.h"
#include "fileio/io_util.h"
#include "fileio/replacement_file.h"
#include "log/logger.h"
#include "platform/platform.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

bool IsProtected(const char* path) {
  uint32_t attributes = 0;
  return plat::GetAttributes(path, &attributes) &&
         (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem)) != 0;
}

int PlaceClientFile(const char* src, const char* dst) {
  // Checked before anything is created: a missing download leaves no trace.
  std::unique_ptr<FILE, FileCloser> source(plat::OpenFile(src, "rb"));
  if (!source) return 0;
  // The download under another name (./x, a link, other letter case on
  // Windows): putting its plain form there would consume the download.
  if (plat::IsSameFile(src, dst)) return 0;

  if (!plat::PathExists(dst)) {
    std::string parent;
    if (!SplitParentDir(dst, &parent)) return 0;
    if (!IOUtil_MakeDirTree(parent.c_str())) return 0;
  }

  // The decoded file is written beside the target and renamed over it only
  // once it is whole, so a damaged download or a full disk never costs the
  // client a working file.
  ReplacementFile replacement;
  if (!replacement.Create(dst)) {
    LogError() << "Open Dst File [" << dst << "] Fail!";
    return 0;
  }
  if (!DecompressOpenFile(source.get(), src, replacement.file(), dst)) return 0;
  // Only now, with a whole file to put in its place, is a protected target
  // opened up to be replaced.
  if (IsProtected(replacement.target())) plat::SetAttributesNormal(replacement.target());
  return replacement.Commit() ? 1 : 0;
}

}  // namespace

extern "C" COMMON_API int COMMON_CALL MakeClientFile(const char* sourceFile, const char* targetFile) {
  if (sourceFile == nullptr || targetFile == nullptr) return 0;
  try {
    return PlaceClientFile(sourceFile, targetFile);
  } catch (...) {
    return 0;
  }
}

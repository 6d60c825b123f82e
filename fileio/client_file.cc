// MakeClientFile: puts a fetched release file into its place on the client.
#include <cstdio>
#include <memory>
#include <string>

#include "common.h"
#include "fileio/aside_name.h"
#include "fileio/gzip_decompress.h"
#include "fileio/io_util.h"
#include "fileio/replacement_file.h"
#include "log/logger.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "util/scoped_file.h"

namespace {

bool IsProtected(const char* path) {
  uint32_t attributes = 0;
  return plat::GetAttributes(path, &attributes) &&
         (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem)) != 0;
}

constexpr unsigned kKnownFlags = CLIENT_FILE_MOVE_ASIDE;

int PlaceClientFile(const char* src, const char* dst, unsigned flags) {
  // Checked before anything is created: a missing download leaves no trace.
  util::ScopedFile source(plat::OpenFile(src, "rb"));
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
  // A program that runs from the target holds it until it ends: with leave
  // to move it aside, that is done at once rather than after a wait.
  bool move_aside = (flags & CLIENT_FILE_MOVE_ASIDE) != 0;
  if (replacement.Commit(!move_aside)) return 1;
  if (!move_aside || !replacement.whole() || !plat::IsFileInUse(replacement.target())) {
    return 0;
  }
  // A running program or a loaded library cannot be overwritten but can be
  // renamed: it goes aside in its folder and runs on from there.
  std::string aside = AsidePathFor(replacement.target());
  if (aside.empty() || !plat::RenameNoReplace(replacement.target(), aside)) return 0;
  if (replacement.Commit()) return 1;
  plat::RenameNoReplace(aside, replacement.target());
  return 0;
}

}  // namespace

extern "C" COMMON_API int COMMON_CALL MakeClientFileEx(const char* sourceFile,
                                                       const char* targetFile, unsigned flags) {
  if (sourceFile == nullptr || targetFile == nullptr || (flags & ~kKnownFlags) != 0) return 0;
  try {
    return PlaceClientFile(sourceFile, targetFile, flags);
  } catch (...) {
    return 0;
  }
}

extern "C" COMMON_API int COMMON_CALL MakeClientFile(const char* sourceFile,
                                                     const char* targetFile) {
  return MakeClientFileEx(sourceFile, targetFile, 0);
}

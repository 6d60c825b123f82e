// MakeClientFile: puts a fetched release file into its place on the client.
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "common.h"
#include "fileio/gzip_decompress.h"
#include "fileio/io_util.h"
#include "platform/platform.h"

namespace {

// The decoded file is written under this name beside the target and renamed
// over it only once it is whole, so a damaged download or a full disk never
// costs the client a working file.
constexpr const char* kPartialSuffix = ".~part";

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

bool IsProtected(const char* path) {
  uint32_t attributes = 0;
  return plat::GetAttributes(path, &attributes) &&
         (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem)) != 0;
}

// Removes a file left by an earlier, interrupted call.
void DiscardFile(const char* path) {
  if (!plat::PathExists(path)) return;
  if (IsProtected(path)) plat::SetAttributesNormal(path);
  plat::RemoveFile(path);
}

// The partial file goes with the call unless it became the target.
class PartialFile {
 public:
  explicit PartialFile(std::string path) : path_(std::move(path)) { DiscardFile(path_.c_str()); }
  ~PartialFile() {
    if (!placed_) plat::RemoveFile(path_.c_str());
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  const char* path() const { return path_.c_str(); }
  void MarkPlaced() { placed_ = true; }

 private:
  std::string path_;
  bool placed_ = false;
};

int PlaceClientFile(const char* src, const char* dst) {
  // Checked before anything is created: a missing download leaves no trace.
  std::unique_ptr<FILE, FileCloser> source(plat::OpenFile(src, "rb"));
  if (!source) return 0;

  if (!plat::PathExists(dst)) {
    std::string parent;
    if (!SplitParentDir(dst, &parent)) return 0;
    if (!IOUtil_MakeDirTree(parent.c_str())) return 0;
  }

  PartialFile partial(std::string(dst) + kPartialSuffix);
  if (!IOUtil_DecompressFile(src, partial.path())) return 0;
  // Only now, with a whole file to put in its place, is a protected target
  // opened up to be replaced.
  if (IsProtected(dst)) plat::SetAttributesNormal(dst);
  if (!plat::ReplaceFileAtomically(partial.path(), dst)) return 0;
  partial.MarkPlaced();
  return 1;
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

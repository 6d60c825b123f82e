#include "fileio/io_util.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "common.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "platform/startup_directory.h"

bool FormatChildPath(const std::string& dir, const char* name, std::string* out) {
  size_t length = dir.size() + 1 + std::strlen(name);
  if (length >= kPathBufferSize) return false;
  out->reserve(length);
  *out = dir;
  out->push_back(plat::kPathSeparator);
  *out += name;
  return true;
}

bool SplitParentDir(const std::string& path, std::string* parent) {
  size_t separator = plat::FindLastSeparator(path);
  if (separator == std::string::npos) return false;
  *parent = path.substr(0, separator);
  return true;
}

bool IsSameOrInside(const std::string& path, const char* dir) {
  plat::FileIdentity dir_identity;
  if (!plat::GetFileIdentity(dir, &dir_identity)) return false;
  std::string current = path;
  for (;;) {
    plat::FileIdentity identity;
    if (plat::GetFileIdentity(current.c_str(), &identity) && identity == dir_identity) return true;
    std::string parent;
    if (!SplitParentDir(current, &parent) || parent.empty()) return false;
    current = std::move(parent);
  }
}

namespace {

// Makes path after its parent; see IOUtil_MakeDirTree. Each level of the
// recursion strips one component, and each level retries at most once, so
// the work is bounded by the depth of the path.
int MakeDirTreeFrom(const std::string& path) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (plat::PathExists(path.c_str())) return 1;
    if (plat::MakeOneDirectory(path.c_str()) == plat::MakeDirResult::kCreated) return 1;
    std::string parent;
    if (!SplitParentDir(path, &parent) || parent.empty()) return 0;
    plat::MakeDirResult made_parent = plat::MakeOneDirectory(parent.c_str());
    if (made_parent != plat::MakeDirResult::kFailed) {
      // The parent is there now. Report what is true of the path itself: a
      // name that cannot be made (invalid, no right to write) is a failure.
      plat::MakeOneDirectory(path.c_str());
      return plat::PathExists(path.c_str()) ? 1 : 0;
    }
    if (!MakeDirTreeFrom(parent)) return 0;
  }
  // The parent was made but the path still cannot be: a drive or share root
  // that answers with an error other than "already exists".
  return 0;
}

}  // namespace

int IOUtil_MakeDirTree(const char* dirPath) {
  if (dirPath == nullptr || dirPath[0] == '\0') return 0;
  return MakeDirTreeFrom(dirPath);
}

namespace {

// Removes the link at path itself: a file link goes as a file, a link to a
// folder (a junction on Windows) as an empty folder would.
bool RemoveLinkItself(const std::string& path) {
  return plat::RemoveFile(path.c_str()) || plat::RemoveEmptyDirectory(path.c_str());
}

}  // namespace

int IOUtil_RemoveDirTree(const char* dirPath) {
  if (dirPath == nullptr) return 0;
  std::string dir = dirPath;
  // "link/" would be taken for the folder the link leads to.
  while (dir.size() > 1 && plat::IsPathSeparator(dir.back())) dir.pop_back();
  // Listing through a link would empty the folder it leads to, wherever that
  // lies (a link planted under a release folder's patch directory name). The
  // same check guards each level below, against a folder swapped for a link
  // after its parent was listed.
  if (plat::IsLinkEntry(dir)) return RemoveLinkItself(dir) ? 1 : 0;
  std::vector<plat::DirEntry> entries;
  if (dir.size() + 4 >= kPathBufferSize || !plat::ListDirectory(dir, &entries)) return 0;
  for (const plat::DirEntry& entry : entries) {
    std::string child;
    if (!FormatChildPath(dir, entry.name.c_str(), &child)) continue;
    if (entry.attributes & plat::kAttrReparsePoint) {
      // A link to a directory elsewhere: remove the link, never what it
      // points to.
      RemoveLinkItself(child);
    } else if (entry.attributes & plat::kAttrDirectory) {
      IOUtil_RemoveDirTree(child.c_str());
    } else {
      plat::RemoveFile(child.c_str());
    }
  }
  return plat::RemoveEmptyDirectory(dir.c_str()) ? 1 : 0;
}

int IOUtil_CopyFile(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) return 0;
  // Copying a file onto another name of itself would empty it first.
  if (plat::IsSameFile(src, dst)) return 0;
  uint32_t attributes = 0;
  if (plat::GetAttributes(dst, &attributes) &&
      (attributes & (plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem))) {
    plat::SetAttributesNormal(dst);
  }
  return plat::CopyFileOver(src, dst) ? 1 : 0;
}

int GetStartupDir(char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  std::memset(buffer, 0, capacity);
  std::string dir;
  if (!plat::GetStartupDirectory(&dir) || dir.size() >= capacity) return 0;
  std::memcpy(buffer, dir.data(), dir.size());
  return 1;
}

int32_t IOUtil_GetFileSize(const char* path) {
  if (path == nullptr) return -1;
  FILE* file = plat::OpenFile(path, "rb");
  if (file == nullptr) return -1;
  int64_t length = plat::FileLength(file);
  std::fclose(file);
  return static_cast<int32_t>(static_cast<uint32_t>(length));
}

std::string IOUtil_ResolvePath(const char* path, const std::string& base) {
  if (path == nullptr) return std::string();
  if (!plat::IsRelativePath(path)) return path;
  std::string combined;
  if (!plat::CombinePath(base.c_str(), path, &combined) || combined.size() >= kPathBufferSize) {
    return std::string();
  }
  return combined;
}

bool GetRelPath(const char* base, const char* file, std::string* out) {
  return plat::RelativePathTo(base, file, out) && out->size() < kPathBufferSize;
}

bool Combine(const char* dir, const char* rel, std::string* out) {
  return plat::CombinePath(dir, rel, out) && out->size() < kPathBufferSize;
}

extern "C" COMMON_API int COMMON_CALL MakeDirTree(const char* dirPath) {
  return IOUtil_MakeDirTree(dirPath);
}

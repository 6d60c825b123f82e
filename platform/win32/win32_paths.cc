// Path arithmetic through the Windows shell's path functions, which work
// within MAX_PATH.
#include <windows.h>
#include <shlwapi.h>

#include "platform/platform.h"

namespace plat {

bool IsRelativePath(const char* path) { return path != nullptr && PathIsRelativeA(path) != FALSE; }

bool CombinePath(const char* dir, const char* rel, std::string* out) {
  char buffer[MAX_PATH + 1] = {};
  if (PathCombineA(buffer, dir, rel) == nullptr) return false;
  *out = buffer;
  return true;
}

bool RelativePathTo(const char* fromDir, const char* file, std::string* out) {
  if (fromDir == nullptr || file == nullptr) return false;
  char buffer[MAX_PATH + 1] = {};
  if (!PathRelativePathToA(buffer, fromDir, FILE_ATTRIBUTE_DIRECTORY, file, FILE_ATTRIBUTE_NORMAL)) {
    return false;
  }
  *out = buffer;
  return true;
}

}  // namespace plat

// Path arithmetic through the Windows shell's path functions, which work
// within MAX_PATH.
#include <windows.h>
#include <shlwapi.h>

#include "platform/platform.h"

namespace plat {

namespace {

// The shell's path functions know only the backslash; the library accepts
// both separators everywhere.
std::string WithBackslashes(const char* path) {
  std::string converted = path != nullptr ? path : "";
  for (char& c : converted) {
    if (c == '/') c = '\\';
  }
  return converted;
}

}  // namespace

bool IsRelativePath(const char* path) { return path != nullptr && PathIsRelativeA(path) != FALSE; }

bool CombinePath(const char* dir, const char* rel, std::string* out) {
  char buffer[MAX_PATH + 1] = {};
  std::string dir_text = WithBackslashes(dir);
  std::string rel_text = WithBackslashes(rel);
  if (PathCombineA(buffer, dir != nullptr ? dir_text.c_str() : nullptr,
                   rel != nullptr ? rel_text.c_str() : nullptr) == nullptr) {
    return false;
  }
  *out = buffer;
  return true;
}

bool RelativePathTo(const char* fromDir, const char* file, std::string* out) {
  if (fromDir == nullptr || file == nullptr) return false;
  char buffer[MAX_PATH + 1] = {};
  std::string from_text = WithBackslashes(fromDir);
  std::string file_text = WithBackslashes(file);
  if (!PathRelativePathToA(buffer, from_text.c_str(), FILE_ATTRIBUTE_DIRECTORY, file_text.c_str(),
                           FILE_ATTRIBUTE_NORMAL)) {
    return false;
  }
  *out = buffer;
  return true;
}

}  // namespace plat

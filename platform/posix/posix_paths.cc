// Path arithmetic on POSIX systems, in the manner of the Windows shell's path
// functions but bounded by the library's 1024-byte buffers instead of
// MAX_PATH.
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/posix_path.h"
#include "util/ascii_case.h"
#include "util/path_components.h"

namespace plat {

namespace {

constexpr size_t kMaxPathLength = 1023;

struct SplitPath {
  bool absolute = false;
  std::vector<std::string> parts;
};

// Splits at both separators, dropping empty and "." segments and folding
// ".." into its parent; ".." at the root stays at the root.
SplitPath Split(const char* path) {
  SplitPath split;
  split.absolute = IsPathSeparator(path[0]);
  split.parts = util::PathComponents(path);
  util::FoldParentSteps(&split.parts, !split.absolute);
  return split;
}

std::string Join(const SplitPath& split) {
  std::string joined = split.absolute ? "/" : "";
  for (size_t i = 0; i < split.parts.size(); ++i) {
    if (i > 0) joined.push_back('/');
    joined += split.parts[i];
  }
  return joined;
}

}  // namespace

bool IsRelativePath(const char* path) { return path != nullptr && !IsPathSeparator(path[0]); }

bool CombinePath(const char* dir, const char* rel, std::string* out) {
  if (dir == nullptr && rel == nullptr) return false;
  std::string joined;
  if (rel != nullptr && IsPathSeparator(rel[0])) {
    joined = rel;
  } else {
    joined = dir != nullptr ? dir : "";
    if (rel != nullptr && rel[0] != '\0') {
      if (!joined.empty()) joined.push_back('/');
      joined += rel;
    }
  }
  std::string result = Join(Split(joined.c_str()));
  if (result.empty() || result.size() > kMaxPathLength) return false;
  *out = std::move(result);
  return true;
}

bool RelativePathTo(const char* fromDir, const char* file, std::string* out) {
  if (fromDir == nullptr || file == nullptr) return false;
  SplitPath from = Split(fromDir);
  SplitPath to = Split(file);
  if (from.absolute != to.absolute) return false;
  size_t common = 0;
  while (common < from.parts.size() && common < to.parts.size() &&
         util::EqualIgnoringAsciiCase(from.parts[common], to.parts[common])) {
    ++common;
  }
  // Two relative paths must share their first component to share a root.
  if (!from.absolute && common == 0) return false;
  std::string result;
  if (common == from.parts.size()) {
    result = ".";
  } else {
    for (size_t i = common; i < from.parts.size(); ++i) result += i == common ? ".." : "\\..";
  }
  for (size_t i = common; i < to.parts.size(); ++i) {
    result.push_back('\\');
    result += to.parts[i];
  }
  if (result.size() > kMaxPathLength) return false;
  *out = std::move(result);
  return true;
}

}  // namespace plat

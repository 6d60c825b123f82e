#include "cli/list_path.h"

#include <filesystem>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

bool SplitListPath(const std::string& path, std::vector<std::string>* parts, std::string* reason) {
  parts->clear();
  if (path.empty()) {
    *reason = "is empty";
    return false;
  }
  if (IsSeparator(path[0])) {
    *reason = "is absolute";
    return false;
  }
  if (path.find(':') != std::string::npos) {
    *reason = "names a drive or a stream";
    return false;
  }
  std::string part;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) {
      part.push_back(path[i]);
      continue;
    }
    // ".." is refused outright, also where it would stay inside: no release
    // build writes one, so any is a sign of a forged list.
    if (part == "..") {
      *reason = "climbs out of the install directory";
      return false;
    }
    if (!part.empty() && part != ".") parts->push_back(part);
    part.clear();
  }
  if (parts->empty()) {
    *reason = "names no file";
    return false;
  }
  return true;
}

std::string JoinBelow(const std::string& base, const std::vector<std::string>& parts) {
  std::filesystem::path joined(base);
  for (const std::string& part : parts) joined /= part;
  return joined.string();
}

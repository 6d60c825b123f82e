#include "platform/path_within.h"

#include <vector>

#include "platform/file_safety.h"
#include "platform/platform.h"

namespace plat {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!components.empty()) components.pop_back();
    } else if (!part.empty() && part != ".") {
      components.push_back(std::move(part));
    }
    start = end + 1;
  }
  return components;
}

}  // namespace

bool PathIsWithin(const std::string& inner, const std::string& outer) {
  std::vector<std::string> in = Components(inner);
  std::vector<std::string> out = Components(outer);
  if (out.size() > in.size()) return false;
  for (size_t i = 0; i < out.size(); ++i) {
    if (!SameEntryName(in[i], out[i])) return false;
  }
  return true;
}

}  // namespace plat

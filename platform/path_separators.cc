#include "platform/platform.h"

namespace plat {

size_t FindLastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

std::string ChildPath(const std::string& dir, const std::string& name) {
  std::string path = dir;
  if (!path.empty() && !IsPathSeparator(path.back())) path += kPathSeparator;
  return path + name;
}

}  // namespace plat

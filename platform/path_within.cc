#include "platform/path_within.h"

#include <vector>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "util/path_components.h"

namespace plat {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> components = util::PathComponents(path);
  util::FoldParentSteps(&components, false);
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

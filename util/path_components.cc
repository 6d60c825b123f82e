#include "util/path_components.h"

namespace util {

std::vector<std::string> PathComponents(std::string_view path) {
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsPathSeparator(path[end])) ++end;
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") components.emplace_back(part);
    start = end + 1;
  }
  return components;
}

void FoldParentSteps(std::vector<std::string>* components, bool keep_leading) {
  std::vector<std::string> folded;
  folded.reserve(components->size());
  for (std::string& part : *components) {
    if (part != "..") {
      folded.push_back(std::move(part));
    } else if (!folded.empty() && folded.back() != "..") {
      folded.pop_back();
    } else if (keep_leading) {
      folded.push_back(std::move(part));
    }
  }
  components->swap(folded);
}

bool HasParentStep(const std::vector<std::string>& components) {
  for (const std::string& part : components) {
    if (part == "..") return true;
  }
  return false;
}

}  // namespace util

#include "cli/list_path.h"

#include <filesystem>

std::string JoinBelow(const std::string& base, const std::vector<std::string>& parts) {
  std::filesystem::path joined(base);
  for (const std::string& part : parts) joined /= part;
  return joined.string();
}

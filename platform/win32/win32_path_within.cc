#include <windows.h>

#include "platform/path_within.h"

namespace plat {

std::string ResolveExistingPart(const std::string& path) {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
  if (length == 0 || length >= sizeof(buffer)) return path;
  return std::string(buffer, length);
}

bool SameEntryName(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()),
                        b.data(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

}  // namespace plat

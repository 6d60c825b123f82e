#include "protocol/latest_pointer.h"

#include "protocol/patch_dir_name.h"

const char* const kLatestName = "LATEST";

bool ParseReleasePointer(const std::string& text, std::string* patchName) {
  std::string name = text;
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) {
    name.pop_back();
  }
  if (!IsPatchDirName(name)) return false;
  *patchName = name;
  return true;
}

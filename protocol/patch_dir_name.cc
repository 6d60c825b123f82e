#include "protocol/patch_dir_name.h"

bool IsPatchDirName(const std::string& name) {
  static const char kPattern[] = "Patch_dddddddd_dddddd";
  if (name.size() != sizeof(kPattern) - 1) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    bool matches = kPattern[i] == 'd' ? (name[i] >= '0' && name[i] <= '9') : name[i] == kPattern[i];
    if (!matches) return false;
  }
  return true;
}

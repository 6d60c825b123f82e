#include "platform/platform.h"

namespace plat {

bool IsSameFile(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  FileIdentity first;
  FileIdentity second;
  return GetFileIdentity(a, &first) && GetFileIdentity(b, &second) && first == second;
}

}  // namespace plat

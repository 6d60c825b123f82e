#include <windows.h>

#include "platform/file_links.h"

namespace plat {

bool LinkFile(const char* existing, const char* newPath) {
  return CreateHardLinkA(newPath, existing, nullptr) != FALSE;
}

}  // namespace plat

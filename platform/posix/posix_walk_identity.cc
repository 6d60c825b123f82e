#include <sys/stat.h>

#include "platform/posix/posix_path.h"
#include "platform/walk_identity.h"

namespace plat {

bool IdentifyFollowingLinks(const std::string& path, WalkIdentity* identity) {
  struct stat st;
  if (stat(ToNativePath(path.c_str()).c_str(), &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  identity->directory = S_ISDIR(st.st_mode);
  return true;
}

}  // namespace plat

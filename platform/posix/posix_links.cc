#include <unistd.h>

#include "platform/file_links.h"
#include "platform/posix/posix_path.h"

namespace plat {

bool LinkFile(const char* existing, const char* newPath) {
  return link(ToNativePath(existing).c_str(), ToNativePath(newPath).c_str()) == 0;
}

}  // namespace plat

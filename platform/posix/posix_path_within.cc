#include <limits.h>
#include <stdlib.h>

#include "platform/path_within.h"
#include "platform/platform.h"
#include "platform/posix/posix_path.h"

namespace plat {

std::string ResolveExistingPart(const std::string& path) {
  std::string native = ToNativePath(path.c_str());
  // Walk up to the deepest part that exists, resolve it, and put the rest
  // back as written.
  std::string head = native;
  std::string tail;
  for (;;) {
    char resolved[PATH_MAX];
    if (!head.empty() && realpath(head.c_str(), resolved) != nullptr) {
      std::string result = resolved;
      if (!tail.empty()) result += (result == "/" ? "" : "/") + tail;
      return result;
    }
    size_t slash = head.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return native;
    std::string last = head.substr(slash + 1);
    tail = tail.empty() ? last : last + "/" + tail;
    head.resize(slash);
  }
}

}  // namespace plat

// Placed files made durable on POSIX: one syncfs covers them all.
#include "platform/file_safety.h"

namespace plat {

std::vector<std::string> SyncFiles(const std::string& dir, const std::vector<std::string>& paths) {
  if (paths.empty()) return {};
  if (!SyncFileSystemOf(dir)) return paths;
  return {};
}

}  // namespace plat

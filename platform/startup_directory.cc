#include "platform/startup_directory.h"

#include "platform/platform.h"

namespace plat {

namespace {

// The directory a test set, behind a lock so that a library thread reading
// it never sees half of a new value.
struct StartupOverride {
  Mutex mutex;
  std::string dir;
};

StartupOverride& Override() {
  static StartupOverride instance;
  return instance;
}

}  // namespace

bool GetStartupDirectory(std::string* dir) {
  {
    StartupOverride& startup = Override();
    MutexLock lock(&startup.mutex);
    if (!startup.dir.empty()) {
      *dir = startup.dir;
      return true;
    }
  }
  std::string program;
  if (!GetExecutablePath(&program)) return false;
  size_t separator = FindLastSeparator(program);
  if (separator == std::string::npos) return false;
  dir->assign(program, 0, separator);
  return true;
}

void SetStartupDirectory(const std::string& dir) {
  StartupOverride& startup = Override();
  MutexLock lock(&startup.mutex);
  startup.dir = dir;
}

}  // namespace plat

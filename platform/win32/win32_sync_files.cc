// Placed files made durable on Windows, one FlushFileBuffers each: flushing
// the volume would need administrator rights. A flush waits for the disk, so
// several run at once; the disk (or Wine's fsync) takes them together.
#include <windows.h>

#include <algorithm>
#include <mutex>

#include "platform/durability_observer.h"
#include "platform/file_safety.h"
#include "util/parallel_for.h"

namespace plat {

namespace {

// Enough flushes in flight to keep a disk's queue busy; a thread costs more
// than it saves below a few dozen files each.
constexpr size_t kMostFlushThreads = 8;
constexpr size_t kFilesPerThread = 32;

bool FlushPath(const std::string& path) {
  // FlushFileBuffers needs a handle with write access; sharing everything
  // keeps a reader (an antivirus scan) from making the flush fail.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool flushed = FlushFileBuffers(handle) != FALSE;
  CloseHandle(handle);
  return flushed;
}

}  // namespace

std::vector<std::string> SyncFiles(const std::string&, const std::vector<std::string>& paths) {
  std::vector<std::string> failed;
  std::mutex lock;
  size_t threads = std::min(kMostFlushThreads, paths.size() / kFilesPerThread + 1);
  // Threads the system refuses leave their flushes to the others.
  util::ParallelFor(paths.size(), threads, 1, [&](size_t index) {
    bool flushed = FlushPath(paths[index]);
    DurabilityObserver* observer = CurrentDurabilityObserver();
    std::lock_guard<std::mutex> hold(lock);
    if (!flushed) {
      failed.push_back(paths[index]);
    } else if (observer != nullptr) {
      observer->PathSynced(paths[index]);
    }
  });
  return failed;
}

}  // namespace plat

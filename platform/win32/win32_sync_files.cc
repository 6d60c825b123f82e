// Placed files made durable on Windows, one FlushFileBuffers each: flushing
// the volume would need administrator rights. A flush waits for the disk, so
// several run at once; the disk (or Wine's fsync) takes them together.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "platform/durability_observer.h"
#include "platform/file_safety.h"
#include "util/thread_start.h"

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
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t index = next++; index < paths.size(); index = next++) {
      bool flushed = FlushPath(paths[index]);
      DurabilityObserver* observer = CurrentDurabilityObserver();
      std::lock_guard<std::mutex> hold(lock);
      if (!flushed) {
        failed.push_back(paths[index]);
      } else if (observer != nullptr) {
        observer->PathSynced(paths[index]);
      }
    }
  };
  size_t threads = std::min(kMostFlushThreads, paths.size() / kFilesPerThread + 1);
  std::vector<std::thread> helpers;
  // Threads the system refuses leave their flushes to the others.
  for (size_t i = 1; i < threads && util::StartThread(&helpers, work); ++i) {
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return failed;
}

}  // namespace plat

// A lock that one process at a time can hold on a folder's work: a release
// build on its packer and release folder, an update on its install folder.
// The operating system drops it when its holder exits, however it exits, so
// a killed run never leaves a stale lock behind for the next one to clear.
#ifndef FILEDIST_PLATFORM_FILE_LOCK_H
#define FILEDIST_PLATFORM_FILE_LOCK_H

#include <string>

namespace plat {

class FileLock {
 public:
  enum class Result {
    kLocked,  // this object holds the lock now
    kBusy,    // another process (or another FileLock here) holds it
    kFailed,  // the lock file cannot be created or opened; see error()
  };

  FileLock() = default;
  ~FileLock() { Unlock(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates lockPath if needed (never through a symbolic link) and takes an
  // exclusive lock on it without waiting. The file itself stays: removing it
  // while another process waits to open it would let two holders in.
  Result TryLock(const std::string& lockPath);

  // Releases a lock this object holds; nothing otherwise.
  void Unlock();

  bool locked() const { return handle_ != kNoHandle; }
  // The system's text for a kFailed result.
  const std::string& error() const { return error_; }

 private:
  static constexpr long long kNoHandle = -1;
  long long handle_ = kNoHandle;  // a file descriptor or a HANDLE
  std::string error_;
};

}  // namespace plat

#endif  // FILEDIST_PLATFORM_FILE_LOCK_H

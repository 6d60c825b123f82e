// An operating-system lock on a file, held by one open handle: a second
// holder is refused whether it is another process or another handle in this
// one, and the lock goes with the process that held it, however it ends.
// Release builds take one on their packer directory and one on their
// release folder, so that two builds never share either.
#ifndef FILEDIST_PLATFORM_FILE_LOCK_H
#define FILEDIST_PLATFORM_FILE_LOCK_H

#include <cstdint>
#include <string>

namespace plat {

enum class LockResult {
  kAcquired,  // this object holds the lock now
  kBusy,      // someone else holds it
  kFailed,    // the lock file cannot be made or opened
};

class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Creates the lock file at path if it is missing and locks it without
  // waiting. The file is left in place afterwards: removing it would let a
  // third holder lock a new file while a second still holds the old one.
  LockResult Acquire(const std::string& path);
  void Release();
  bool held() const { return handle_ != kNone; }

 private:
  static constexpr intptr_t kNone = -1;
  intptr_t handle_ = kNone;
};

}  // namespace plat

#endif  // FILEDIST_PLATFORM_FILE_LOCK_H

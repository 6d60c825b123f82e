// FileLock through flock(): the lock belongs to the open file description, so
// it holds against other processes and other descriptors of this one alike,
// and goes when the descriptor closes or the process ends.
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_lock.h"
#include "platform/posix/posix_path.h"

namespace plat {

FileLock::Result FileLock::TryLock(const std::string& lockPath) {
  Unlock();
  error_.clear();
  std::string native = ToNativePath(lockPath.c_str());
  int fd = open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return Result::kFailed;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int code = errno;
    close(fd);
    if (code == EWOULDBLOCK) return Result::kBusy;
    error_ = std::strerror(code);
    return Result::kFailed;
  }
  handle_ = fd;
  return Result::kLocked;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));  // closing drops the lock
  handle_ = kNoHandle;
}

}  // namespace plat

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "platform/posix/posix_path.h"

namespace plat {

// flock rather than fcntl record locks: those belong to the process, so a
// second build in the same host process would not be refused, and closing
// any descriptor of the file would drop them.
LockResult FileLock::Acquire(const std::string& path) {
  Release();
  int fd = open(ToNativePath(path.c_str()).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return LockResult::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return error == EWOULDBLOCK ? LockResult::kBusy : LockResult::kFailed;
  }
  handle_ = fd;
  return LockResult::kAcquired;
}

void FileLock::Release() {
  if (handle_ == kNone) return;
  close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace plat

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "platform/posix/posix_path.h"

namespace plat {

namespace {

// The lock a Windows build of this program takes under Wine: wineserver
// turns LockFileEx into a POSIX record lock on the file. An open-file-
// description lock conflicts with it, so that filedist and filedist.exe on
// one folder exclude each other. Such a lock belongs to this open file, as
// flock's does, not to the process.
bool LockAgainstWine(int fd, int* error) {
#ifdef F_OFD_SETLK
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 0;  // the whole file, whatever range the other side locks
  if (fcntl(fd, F_OFD_SETLK, &range) == 0) return true;
  *error = errno;
  // A file system without record locks leaves flock's exclusion.
  return *error != EAGAIN && *error != EACCES;
#else
  (void)fd;
  (void)error;
  return true;
#endif
}

}  // namespace

// flock rather than fcntl record locks: those belong to the process, so a
// second build in the same host process would not be refused, and closing
// any descriptor of the file would drop them. The lock file is opened
// without following a link (a planted one must never make a file elsewhere)
// and without waiting on a named pipe, and must be a regular file.
LockResult FileLock::Acquire(const std::string& path) {
  Release();
  int fd = open(ToNativePath(path.c_str()).c_str(),
                O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return LockResult::kFailed;
  struct stat st;
  int error = 0;
  LockResult result = LockResult::kFailed;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = EINVAL;
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno;
    if (error == EWOULDBLOCK) result = LockResult::kBusy;
  } else if (!LockAgainstWine(fd, &error)) {
    result = LockResult::kBusy;
  } else {
    handle_ = fd;
    return LockResult::kAcquired;
  }
  close(fd);
  errno = error;
  return result;
}

void FileLock::Release() {
  if (handle_ == kNone) return;
  close(static_cast<int>(handle_));
  handle_ = kNone;
}

}  // namespace plat

// FileLock through LockFileEx on the lock file's first byte: the system
// releases it when the handle closes or the process ends. The file is shared
// for reading and writing so that a second process can open it and be told
// the lock is busy rather than that the file cannot be opened.
#include <windows.h>

#include "platform/file_lock.h"

namespace plat {

namespace {

std::string SystemErrorText(DWORD code) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof buffer, nullptr);
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "system error " + std::to_string(code);
  return std::string(buffer, length);
}

}  // namespace

FileLock::Result FileLock::TryLock(const std::string& lockPath) {
  Unlock();
  error_.clear();
  // FILE_FLAG_OPEN_REPARSE_POINT: a planted link is opened as itself, never
  // followed to a file elsewhere.
  HANDLE file = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = SystemErrorText(GetLastError());
    return Result::kFailed;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    DWORD code = GetLastError();
    CloseHandle(file);
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return Result::kBusy;
    error_ = SystemErrorText(code);
    return Result::kFailed;
  }
  handle_ = reinterpret_cast<long long>(file);
  return Result::kLocked;
}

void FileLock::Unlock() {
  if (handle_ == kNoHandle) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing drops the lock
  handle_ = kNoHandle;
}

}  // namespace plat

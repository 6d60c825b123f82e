#include <windows.h>

#include "platform/file_lock.h"

namespace plat {

// A handle that shares nothing: every other open of the file, from this
// process or another, fails until the handle is closed, which the system
// does when the process ends.
LockResult FileLock::Acquire(const std::string& path) {
  Release();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? LockResult::kBusy
                                                                            : LockResult::kFailed;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  return LockResult::kAcquired;
}

void FileLock::Release() {
  if (handle_ == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

}  // namespace plat

#include <windows.h>

#include "platform/file_lock.h"

namespace plat {

// A handle that shares nothing: every other open of the file, from this
// process or another, fails until the handle is closed, which the system
// does when the process ends. A link or junction at the name is opened as
// itself and refused, so that no file is ever made where it leads.
//
// A byte-range lock as well: under Wine the share mode binds only Windows
// programs, while the lock becomes a POSIX record lock on the file, which
// the native filedist's lock conflicts with.
//
// The file is opened if it is there and else made with CREATE_NEW, never
// with OPEN_ALWAYS: Wine follows a Unix link even when asked not to, but its
// CREATE_NEW refuses any name that exists, a link that leads nowhere too,
// so no lock file is ever made at the far end of one.
LockResult FileLock::Acquire(const std::string& path) {
  Release();
  const DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 2 && file == INVALID_HANDLE_VALUE; ++attempt) {
    file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       kFlags, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) break;
    file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, kFlags,
                       nullptr);
    // Made by someone else in between: open it again.
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? LockResult::kBusy
                                                                             : LockResult::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    CloseHandle(file);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return LockResult::kFailed;
  }
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return error == ERROR_LOCK_VIOLATION || error == ERROR_SHARING_VIOLATION ? LockResult::kBusy
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

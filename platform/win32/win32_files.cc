// Files and directories through the Win32 narrow-character calls.
#include <windows.h>
#include <shlwapi.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/durability_observer.h"
#include "platform/platform.h"

namespace plat {

const char kPathSeparator = '\\';
const char* const kExecutableSuffix = ".exe";
const size_t kMaxFilePathLength = MAX_PATH - 1;

namespace {

// Longest path a formatted search pattern may hold: "%s\*.*" in 1024 bytes.
constexpr size_t kPatternCapacity = 1024;

// How long a replace waits for readers of the files to let go, and how
// often it tries again meanwhile.
constexpr DWORD kHeldWaitMs = 2000;
constexpr DWORD kHeldRetryMs = 20;

// Windows refuses to write, replace or delete a read-only file. Wine running
// as root lets all three through; asking first gives the Windows answer
// everywhere.
bool IsReadOnlyFile(const char* path) {
  DWORD value = GetFileAttributesA(path);
  bool read_only = value != INVALID_FILE_ATTRIBUTES && (value & FILE_ATTRIBUTE_READONLY) &&
                   !(value & FILE_ATTRIBUTE_DIRECTORY);
  // The refusal is the system's own answer, and says so to whoever asks.
  if (read_only) SetLastError(ERROR_ACCESS_DENIED);
  return read_only;
}

bool IsFolder(const char* path) {
  DWORD value = GetFileAttributesA(path);
  return value != INVALID_FILE_ATTRIBUTES && (value & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  std::string pattern = dir + "\\*.*";
  if (pattern.size() >= kPatternCapacity) return false;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
    DirEntry entry;
    entry.name = data.cFileName;
    entry.attributes = data.dwFileAttributes;
    entry.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) entry.size = 0;
    entries->push_back(std::move(entry));
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

bool PathExists(const char* path) { return path != nullptr && PathFileExistsA(path) != FALSE; }

bool GetAttributes(const char* path, uint32_t* attributes) {
  DWORD value = GetFileAttributesA(path);
  if (value == INVALID_FILE_ATTRIBUTES) return false;
  *attributes = value;
  return true;
}

bool SetAttributesNormal(const char* path) {
  return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE) != FALSE;
}

bool IsExecutableFile(const char*) { return false; }

bool SetExecutableBits(const char*, bool) { return true; }

MakeDirResult MakeOneDirectory(const char* path) {
  if (CreateDirectoryA(path, nullptr)) return MakeDirResult::kCreated;
  return GetLastError() == ERROR_ALREADY_EXISTS ? MakeDirResult::kAlreadyExists
                                                : MakeDirResult::kFailed;
}

bool RemoveEmptyDirectory(const char* path) { return RemoveDirectoryA(path) != FALSE; }

bool RemoveFile(const char* path) {
  if (IsReadOnlyFile(path) || DeleteFileA(path) == FALSE) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Removed(path);
  return true;
}

bool CopyFileOver(const char* src, const char* dst) {
  return !IsReadOnlyFile(dst) && CopyFileA(src, dst, FALSE) != FALSE;
}

bool ReplaceFileAtomically(const char* from, const char* to, WhenHeld held) {
  if (IsReadOnlyFile(to)) return false;
  // Windows renames over no file that is open, whatever its handles share:
  // a reader (filedist status reading the install record, a virus scan of
  // a new file) makes the rename fail for as long as it reads, which is
  // not long. A refusal that lasts (no rights) fails after the same wait,
  // with the system's text; a folder at the name at once.
  const DWORD started = GetTickCount();
  while (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
    DWORD failure = GetLastError();
    if ((failure != ERROR_SHARING_VIOLATION && failure != ERROR_ACCESS_DENIED) ||
        held == WhenHeld::kFailAtOnce || IsFolder(to) || GetTickCount() - started >= kHeldWaitMs) {
      SetLastError(failure);
      return false;
    }
    Sleep(kHeldRetryMs);
  }
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Renamed(from, to);
  return true;
}

FILE* CreateNewFile(const char* path) {
  // _O_EXCL is CREATE_NEW: an existing file, read-only or not, is refused
  // with EEXIST.
  int fd =
      _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

std::string FollowFileLinks(const char* path) { return path; }

bool IsSpecialFile(const char*) { return false; }

bool GetFileIdentity(const char* path, FileIdentity* identity, bool* isDirectory) {
  if (path == nullptr) return false;
  // No access rights are asked for: reading the identity needs none, and a
  // file open elsewhere without sharing still answers. Directories need the
  // backup-semantics flag to be opened at all.
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL got = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!got) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  if (isDirectory != nullptr)
    *isDirectory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

int64_t FileLength(FILE* file) { return _filelengthi64(_fileno(file)); }

bool SeekFile(FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) &&
         _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

FILE* OpenFile(const char* path, const char* mode) {
  if (std::strpbrk(mode, "wa+") != nullptr && IsReadOnlyFile(path)) {
    errno = EACCES;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (std::strchr(mode, 'r') != nullptr && std::strchr(mode, '+') == nullptr) {
    FILE* file = OpenRegularFile(path);
    // Text mode turns CR LF into LF as fopen's "r" would.
    if (file != nullptr && std::strchr(mode, 'b') == nullptr) _setmode(_fileno(file), _O_TEXT);
    return file;
  }
  return std::fopen(path, mode);
}

namespace {

// A C stream that reads through handle and owns it from now on; nullptr
// (the handle closed) when the runtime cannot make one.
FILE* ReadStreamOf(HANDLE handle) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace

FILE* OpenRegularFile(const char* path, bool followLinks) {
  // The handle is looked at before a byte is read: a pipe, a console or
  // another device at the name answers with a type other than a disk file.
  // Sharing is what fopen gives, but for the updater's own files (no link
  // followed), which are not shared for writing: one that another handle
  // is writing is not read half-done, nor written while read. Renaming and
  // removal are shared: an update replaces its state files by renaming the
  // new one over them, and a reader (filedist status) must not stop it.
  DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  DWORD sharing = FILE_SHARE_READ | FILE_SHARE_DELETE | (followLinks ? FILE_SHARE_WRITE : 0);
  HANDLE handle = CreateFileA(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD failure = GetLastError();
    errno = failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  int error = 0;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) {
    error = EINVAL;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    error = EISDIR;
  } else if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = ELOOP;
  }
  if (error != 0) {
    CloseHandle(handle);
    SetLastError(ERROR_ACCESS_DENIED);
    errno = error;
    return nullptr;
  }
  return ReadStreamOf(handle);
}

// FILE_FLAG_SEQUENTIAL_SCAN: the cache manager reads ahead further and lets
// what was read go sooner. The runtime's _SH_DENYWR would not share
// deletion, and a file being keyed could then be neither renamed nor
// removed by an update.
FILE* OpenFileDenyWrite(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return ReadStreamOf(handle);
}

}  // namespace plat

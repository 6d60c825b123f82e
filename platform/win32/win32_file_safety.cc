// The updater's safety calls through Win32.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/durability_observer.h"
#include "platform/file_safety.h"
#include "util/ascii_case.h"
#include "util/windows_names.h"

namespace plat {

namespace {

std::string ErrorText(DWORD code) {
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

// Windows drops trailing dots and spaces from the last part of a name.
std::string WithoutTrailingDotsAndSpaces(const std::string& name) {
  size_t end = name.size();
  while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
  return name.substr(0, end);
}

bool HasReparseAttribute(const std::string& path) {
  DWORD value = GetFileAttributesA(path.c_str());
  return value != INVALID_FILE_ATTRIBUTES && (value & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The absolute form of path with '\' separators and no trailing one.
bool FullPath(const std::string& path, std::string* out) {
  char buffer[MAX_PATH * 4];
  DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return false;
  out->assign(buffer, length);
  while (out->size() > 3 && out->back() == '\\') out->pop_back();
  return true;
}

}  // namespace

FILE* CreateNewFile(const std::string& path, std::string* error) {
  // CREATE_NEW fails on any existing name, a link included, and never
  // follows one.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = ErrorText(GetLastError());
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    if (error != nullptr) *error = "cannot open a descriptor";
    CloseHandle(handle);
    return nullptr;
  }
  FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    if (error != nullptr) *error = "cannot open a stream";
    _close(fd);
  } else {
    if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Created(path, file);
  }
  return file;
}

bool SyncFile(FILE* file) {
  if (std::fflush(file) != 0) return false;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE || FlushFileBuffers(handle) == FALSE) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->FileSynced(file);
  return true;
}

// The volume is not flushed at the end either (below).
void StartWriteBack(FILE*) {}

// NTFS keeps a folder's names with its metadata journal; MoveFileEx with
// MOVEFILE_WRITE_THROUGH returns once a rename is on the disk.
bool SyncDirectory(const std::string&) { return true; }

// Flushing a whole volume needs rights an updater does not have: placed
// files are flushed one by one instead (SyncFiles).
bool SyncFileSystemOf(const std::string&) { return true; }

bool SameEntryName(const std::string& a, const std::string& b) {
  std::string x = WithoutTrailingDotsAndSpaces(a);
  std::string y = WithoutTrailingDotsAndSpaces(b);
  return util::EqualIgnoringAsciiCase(x, y);
}

std::string EntryNameProblem(const std::string& name) { return util::WindowsNameProblem(name); }

std::string EntryNameFold(const std::string& name) {
  std::string folded = util::WindowsFoldedName(name);
  // Letters beyond A to Z as the ANSI calls the library makes see them.
  if (!folded.empty() && folded.size() < 0x7fffffff) {
    std::string upper(folded.size(), '\0');
    int made =
        LCMapStringA(LOCALE_SYSTEM_DEFAULT, LCMAP_UPPERCASE, folded.data(),
                     static_cast<int>(folded.size()), &upper[0], static_cast<int>(upper.size()));
    if (made == static_cast<int>(upper.size())) folded = upper;
  }
  return folded;
}

// A symbolic link's own attributes are read, wherever it leads. (Wine
// shows a Windows program no Unix link that leads nowhere at all.)
bool NameIsTaken(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsLinkEntry(const std::string& path) { return HasReparseAttribute(path); }

bool ResolvesInside(const std::string& dir, const std::string& root) {
  // The library targets systems without GetFinalPathNameByHandle, so a
  // junction's target is not resolved: every reparse point between root and
  // dir counts as leading outside.
  std::string full_dir;
  std::string full_root;
  if (!FullPath(dir, &full_dir) || !FullPath(root, &full_root)) return false;
  if (full_dir.size() < full_root.size() ||
      !SameEntryName(full_dir.substr(0, full_root.size()), full_root) ||
      (full_dir.size() > full_root.size() && full_dir[full_root.size()] != '\\')) {
    return false;
  }
  std::string path = full_dir;
  while (path.size() > full_root.size()) {
    if (HasReparseAttribute(path)) return false;
    path.resize(path.find_last_of('\\'));
  }
  return GetFileAttributesA(full_dir.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyPermissions(const std::string&, const std::string&) { return true; }

bool RenameNoReplace(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == FALSE) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Renamed(from, to);
  return true;
}

bool IsFileInUse(const std::string& path) {
  DWORD failure = GetLastError();
  bool in_use = failure == ERROR_SHARING_VIOLATION || failure == ERROR_LOCK_VIOLATION;
  if (failure == ERROR_ACCESS_DENIED) {
    // Access denied also means a read-only file or a lack of rights. Another
    // program's hold shows as a sharing violation when the file is opened
    // for deletion (its handle does not share that) or for writing (a
    // mapped program image refuses writers, yet may be renamed).
    const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    for (DWORD access : {static_cast<DWORD>(DELETE), static_cast<DWORD>(GENERIC_WRITE)}) {
      HANDLE handle = CreateFileA(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
      } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
        in_use = true;
        break;
      }
    }
  }
  SetLastError(failure);
  return in_use;
}

std::string LastErrorText() { return ErrorText(GetLastError()); }

}  // namespace plat

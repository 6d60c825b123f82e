#include <windows.h>

#include "platform/path_within.h"

namespace plat {

namespace {

using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

// The path of an existing file or directory with its symbolic links and
// junctions resolved. The call exists from Vista on; the library still runs
// on XP, where links to directories are rare, so it is looked up.
bool FinalPath(const std::string& path, std::string* out) {
  static FinalPathFunction final_path = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (final_path == nullptr) return false;
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  char buffer[MAX_PATH * 4] = {};
  DWORD length = final_path(handle, buffer, sizeof(buffer), 0 /* FILE_NAME_NORMALIZED, DOS */);
  CloseHandle(handle);
  if (length == 0 || length >= sizeof(buffer)) return false;
  std::string text(buffer, length);
  if (text.compare(0, 8, "\\\\?\\UNC\\") == 0) {
    text = "\\\\" + text.substr(8);
  } else if (text.compare(0, 4, "\\\\?\\") == 0) {
    text = text.substr(4);
  }
  *out = text;
  return true;
}

}  // namespace

std::string ResolveExistingPart(const std::string& path) {
  char buffer[MAX_PATH + 1] = {};
  DWORD length = GetFullPathNameA(path.c_str(), sizeof(buffer), buffer, nullptr);
  if (length == 0 || length >= sizeof(buffer)) return path;
  std::string full(buffer, length);
  // Walk up to the deepest part that exists, resolve it, and put the rest
  // back as written.
  std::string head = full;
  std::string tail;
  for (;;) {
    std::string resolved;
    if (GetFileAttributesA(head.c_str()) != INVALID_FILE_ATTRIBUTES && FinalPath(head, &resolved)) {
      return tail.empty() ? resolved : resolved + "\\" + tail;
    }
    size_t separator = head.find_last_of("\\/");
    if (separator == std::string::npos || separator + 1 >= head.size() || separator < 3)
      return full;
    std::string last = head.substr(separator + 1);
    tail = tail.empty() ? last : last + "\\" + tail;
    head.resize(separator);
  }
}

}  // namespace plat

#include <windows.h>

#include "platform/walk_identity.h"

namespace plat {

// Opening with backup semantics follows symbolic links and junctions, and
// opens directories as well as files; no access is asked for, so a file
// open elsewhere does not stand in the way.
bool IdentifyFollowingLinks(const std::string& path, WalkIdentity* identity) {
  HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  BOOL known = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  if (!known) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return true;
}

}  // namespace plat

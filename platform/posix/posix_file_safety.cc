// The updater's safety calls on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/durability_observer.h"
#include "platform/file_safety.h"
#include "platform/posix/posix_path.h"

namespace plat {

FILE* CreateNewFile(const std::string& path, std::string* error) {
  // O_EXCL with O_CREAT also refuses a dangling link, so nothing is ever
  // written through a link planted at the name.
  int fd = open(ToNativePath(path.c_str()).c_str(),
                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error != nullptr) *error = std::strerror(errno);
    return nullptr;
  }
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    if (error != nullptr) *error = std::strerror(errno);
    close(fd);
  } else {
    if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Created(path, file);
  }
  return file;
}

bool SyncFile(FILE* file) {
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->FileSynced(file);
  return true;
}

void StartWriteBack(FILE* file) {
  if (std::fflush(file) != 0) return;
#ifdef SYNC_FILE_RANGE_WRITE
  sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool SyncDirectory(const std::string& dir) {
  int fd = open(ToNativePath(dir.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  if (synced) {
    if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->DirectorySynced(dir);
  }
  return synced;
}

bool SyncFileSystemOf(const std::string& dir) {
  int fd = open(ToNativePath(dir.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = syncfs(fd) == 0;
  close(fd);
  if (synced) {
    if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->FileSystemSynced(dir);
  }
  return synced;
}

bool SameEntryName(const std::string& a, const std::string& b) { return a == b; }

std::string EntryNameProblem(const std::string& name) {
  // A NUL ends the name the system is given: "filedist.pub<NUL>x" would
  // write filedist.pub.
  if (name.find('\0') != std::string::npos) return "holds a NUL byte, which no file name can";
  return std::string();
}

std::string EntryNameFold(const std::string& name) { return name; }

bool NameIsTaken(const std::string& path) {
  struct stat st;
  return lstat(ToNativePath(path.c_str()).c_str(), &st) == 0;
}

bool IsLinkEntry(const std::string& path) {
  struct stat st;
  return lstat(ToNativePath(path.c_str()).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

namespace {

bool Resolve(const std::string& path, std::string* out) {
  char buffer[PATH_MAX];
  if (realpath(ToNativePath(path.c_str()).c_str(), buffer) == nullptr) return false;
  *out = buffer;
  return true;
}

}  // namespace

bool ResolvesInside(const std::string& dir, const std::string& root) {
  std::string real_dir;
  std::string real_root;
  if (!Resolve(dir, &real_dir) || !Resolve(root, &real_root)) return false;
  if (real_dir == real_root) return true;
  if (real_root == "/") return true;
  return real_dir.size() > real_root.size() &&
         real_dir.compare(0, real_root.size(), real_root) == 0 && real_dir[real_root.size()] == '/';
}

bool CopyPermissions(const std::string& model, const std::string& file) {
  struct stat st;
  if (lstat(ToNativePath(model.c_str()).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  return chmod(ToNativePath(file.c_str()).c_str(), st.st_mode & 07777) == 0;
}

bool RenameNoReplace(const std::string& from, const std::string& to) {
  // link() fails when to exists; the old name then goes. A file system
  // without hard links gets a checked rename instead.
  std::string native_from = ToNativePath(from.c_str());
  std::string native_to = ToNativePath(to.c_str());
  bool renamed = false;
  if (link(native_from.c_str(), native_to.c_str()) == 0) {
    renamed = unlink(native_from.c_str()) == 0;
  } else {
    if (errno == EEXIST) return false;
    struct stat st;
    if (lstat(native_to.c_str(), &st) == 0) {
      errno = EEXIST;
      return false;
    }
    renamed = rename(native_from.c_str(), native_to.c_str()) == 0;
  }
  if (renamed) {
    if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Renamed(from, to);
  }
  return renamed;
}

bool IsFileInUse(const std::string&) { return false; }

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace plat

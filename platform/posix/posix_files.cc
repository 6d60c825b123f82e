// Files and directories on POSIX systems, answering as the Win32 calls do.
// Read-only means the owner has no write bit; hidden means a leading dot.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/durability_observer.h"
#include "platform/platform.h"
#include "platform/posix/posix_path.h"
#include "util/ascii_case.h"

namespace plat {

const char kPathSeparator = '/';
const char* const kExecutableSuffix = "";
const size_t kMaxFilePathLength = PATH_MAX - 1;

std::string ToNativePath(const char* path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

namespace {

const char* BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return path.c_str() + (slash == std::string::npos ? 0 : slash + 1);
}

uint32_t AttributesOf(const struct stat& st, const char* name) {
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
    attributes |= kAttrHidden;
  }
  if (attributes == 0 && !S_ISDIR(st.st_mode)) attributes = kAttrArchive;
  return attributes;
}

// NTFS keeps a directory's names in a B-tree ordered by their upper-case
// form, compared code unit by code unit; enumerations return that order.
bool NtfsOrderLess(const DirEntry& a, const DirEntry& b) {
  const std::string& x = a.name;
  const std::string& y = b.name;
  size_t n = std::min(x.size(), y.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char cx = static_cast<unsigned char>(util::AsciiUpper(x[i]));
    unsigned char cy = static_cast<unsigned char>(util::AsciiUpper(y[i]));
    if (cx != cy) return cx < cy;
  }
  if (x.size() != y.size()) return x.size() < y.size();
  return x < y;  // names equal but for case cannot share an NTFS directory
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries) {
  entries->clear();
  std::string native = ToNativePath(dir.c_str());
  std::unique_ptr<DIR, DirCloser> handle(opendir(native.c_str()));
  if (!handle) return false;
  int dir_fd = dirfd(handle.get());
  while (struct dirent* item = readdir(handle.get())) {
    if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
    struct stat st;
    struct stat link_st;
    if (fstatat(dir_fd, item->d_name, &link_st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    DirEntry entry;
    entry.name = item->d_name;
    if (fstatat(dir_fd, item->d_name, &st, 0) != 0) {
      if (!S_ISLNK(link_st.st_mode)) continue;  // gone meanwhile
      // A link that leads nowhere is listed, as Windows lists it: a scan
      // must say that a file it names is missing, and a removal must be
      // able to remove the link.
      entry.attributes = AttributesOf(link_st, item->d_name) | kAttrReparsePoint;
      entries->push_back(std::move(entry));
      continue;
    }
    entry.attributes = AttributesOf(st, item->d_name);
    if (S_ISLNK(link_st.st_mode)) entry.attributes |= kAttrReparsePoint;
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    entries->push_back(std::move(entry));
  }
  std::sort(entries->begin(), entries->end(), NtfsOrderLess);
  return true;
}

bool PathExists(const char* path) {
  struct stat st;
  return path != nullptr && stat(ToNativePath(path).c_str(), &st) == 0;
}

bool GetAttributes(const char* path, uint32_t* attributes) {
  std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  *attributes = AttributesOf(st, BaseName(native));
  return true;
}

bool IsSpecialFile(const char* path) {
  struct stat st;
  return stat(ToNativePath(path).c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool SetAttributesNormal(const char* path) {
  std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  return chmod(native.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
}

bool IsExecutableFile(const char* path) {
  struct stat st;
  return path != nullptr && stat(ToNativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (st.st_mode & S_IXUSR) != 0;
}

bool SetExecutableBits(const char* path, bool executable) {
  std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IXUSR | S_IXGRP | S_IXOTH);
  // Whoever may read the file may run it: the bits follow the read bits.
  if (executable) mode |= (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
  // Most files already have the bits they should: no change to make.
  if (mode == (st.st_mode & 07777)) return true;
  return chmod(native.c_str(), mode) == 0;
}

MakeDirResult MakeOneDirectory(const char* path) {
  if (mkdir(ToNativePath(path).c_str(), 0777) == 0) return MakeDirResult::kCreated;
  return errno == EEXIST ? MakeDirResult::kAlreadyExists : MakeDirResult::kFailed;
}

bool RemoveEmptyDirectory(const char* path) { return rmdir(ToNativePath(path).c_str()) == 0; }

bool RemoveFile(const char* path) {
  std::string native = ToNativePath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return false;
  if (unlink(native.c_str()) != 0) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Removed(path);
  return true;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool CopyFileOver(const char* src, const char* dst) {
  std::string native_src = ToNativePath(src);
  std::string native_dst = ToNativePath(dst);
  int in = open(native_src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    return false;
  }
  struct stat dst_st;
  if (stat(native_dst.c_str(), &dst_st) == 0 && (dst_st.st_mode & S_IWUSR) == 0) {
    close(in);  // Windows refuses to overwrite a read-only file
    errno = EACCES;
    return false;
  }
  int out = open(native_dst.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    close(in);
    return false;
  }
  static constexpr size_t kChunk = 1 << 18;
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  bool ok = true;
  for (;;) {
    ssize_t got = read(in, buffer.get(), kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (!WriteAll(out, buffer.get(), static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  close(in);
  if (fchmod(out, st.st_mode & 07777) != 0) ok = false;
  if (close(out) != 0) ok = false;
  return ok;
}

bool ReplaceFileAtomically(const char* from, const char* to, WhenHeld) {
  std::string native_to = ToNativePath(to);
  struct stat st;
  // rename() would replace a read-only file; Windows refuses, and so do we,
  // so that a protected list stays protected on every system.
  bool replaces = stat(native_to.c_str(), &st) == 0;
  if (replaces && (st.st_mode & S_IWUSR) == 0) {
    errno = EACCES;
    return false;
  }
  std::string native_from = ToNativePath(from);
  // The new file was made with the default mode; an updated tool.sh must
  // stay as runnable as the one it replaces. Set-user and set-group bits
  // are not carried over: the new file's owner may differ.
  if (replaces && chmod(native_from.c_str(), st.st_mode & 0777) != 0) return false;
  if (rename(native_from.c_str(), native_to.c_str()) != 0) return false;
  if (DurabilityObserver* observer = CurrentDurabilityObserver()) observer->Renamed(from, to);
  return true;
}

FILE* CreateNewFile(const char* path) {
  int fd = open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

std::string FollowFileLinks(const char* path) {
  std::string current = ToNativePath(path);
  // The bound is the kernel's own for one lookup; a loop of links ends at a
  // link's name.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    char target[PATH_MAX];
    ssize_t length = readlink(current.c_str(), target, sizeof(target) - 1);
    if (length <= 0) break;
    std::string next(target, static_cast<size_t>(length));
    size_t slash = current.find_last_of('/');
    if (next[0] != '/' && slash != std::string::npos) next = current.substr(0, slash + 1) + next;
    current = std::move(next);
  }
  return current;
}

bool GetFileIdentity(const char* path, FileIdentity* identity, bool* isDirectory) {
  struct stat st;
  if (path == nullptr || stat(ToNativePath(path).c_str(), &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  if (isDirectory != nullptr) *isDirectory = S_ISDIR(st.st_mode);
  return true;
}

FILE* OpenFile(const char* path, const char* mode) {
  std::string native = ToNativePath(path);
  // Windows will not open a read-only file for writing, whoever asks; POSIX
  // lets the superuser. Answer as Windows does on every system.
  if (std::strpbrk(mode, "wa+") != nullptr) {
    struct stat st;
    if (stat(native.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) {
      errno = EACCES;
      return nullptr;
    }
  }
  // A named pipe or device would block or never end; release and client
  // files are regular files.
  if (std::strchr(mode, 'r') != nullptr && std::strchr(mode, '+') == nullptr) {
    return OpenRegularFile(path);
  }
  return std::fopen(native.c_str(), mode);
}

FILE* OpenRegularFile(const char* path, bool followLinks) {
  // O_NONBLOCK makes the open of a named pipe return at once; the check on
  // the open descriptor then refuses it, with no window for a swap between
  // a look at the name and the open.
  int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
  int fd = open(ToNativePath(path).c_str(), flags);
  if (fd < 0) return nullptr;
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) {
    error = errno;
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = errno;
  }
  FILE* file = error == 0 ? fdopen(fd, "rb") : nullptr;
  if (file == nullptr) {
    if (error == 0) error = errno;
    close(fd);
    errno = error;
  }
  return file;
}

int64_t FileLength(FILE* file) {
  struct stat st;
  if (fstat(fileno(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool SeekFile(FILE* file, uint64_t offset) {
  return offset <= static_cast<uint64_t>(INT64_MAX) &&
         fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

FILE* OpenFileDenyWrite(const char* path) {
  // POSIX has no share modes. Only regular files are keyed: opening a named
  // pipe would wait for a writer forever, and a directory opens but cannot
  // be read.
  int fd = open(ToNativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    int error = S_ISDIR(st.st_mode) ? EISDIR : S_ISREG(st.st_mode) ? errno : EINVAL;
    close(fd);
    errno = error;
    return nullptr;
  }
  // Only a hint: a system that takes no advice reads the file all the same.
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace plat

// The narrow operating-system layer. Everything above this folder reaches
// the file system, the clock and the process through these functions, so no
// algorithm file needs to know which system it runs on. The win32 back end
// makes the Win32 calls the library was designed around; the POSIX back end
// gives the same answers on Linux.
//
// Paths: both '\' and '/' are separators in every path given to these
// functions. Paths built for the file system use kPathSeparator.
#ifndef FILEDIST_PLATFORM_PLATFORM_H
#define FILEDIST_PLATFORM_PLATFORM_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "util/path_components.h"

namespace plat {

// The separator this back end puts into paths it builds: '\' or '/'.
extern const char kPathSeparator;
// What a host program file is called here: ".exe" or "".
extern const char* const kExecutableSuffix;

// '\' or '/': the one rule every module splits paths by.
using util::IsPathSeparator;

// Position of the last separator of path, or std::string::npos.
size_t FindLastSeparator(const std::string& path);

// name inside the folder dir: one separator between them (none added after
// a dir that ends in one; an empty dir gives name).
std::string ChildPath(const std::string& dir, const std::string& name);

// File attributes with their Windows values.
enum : uint32_t {
  kAttrReadOnly = 0x1,
  kAttrHidden = 0x2,
  kAttrSystem = 0x4,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kAttrReparsePoint = 0x400,
};

struct DirEntry {
  std::string name;
  uint32_t attributes = 0;  // kAttr* bits
  uint64_t size = 0;        // file size in bytes; 0 for directories
};

// Lists the entries of directory dir (without "." and ".."), in the order
// NTFS keeps them: ordinal, by the upper-case form of the name. Links carry
// kAttrReparsePoint; one that leads nowhere is listed too, as a file. Returns
// false when the directory cannot be enumerated.
bool ListDirectory(const std::string& dir, std::vector<DirEntry>* entries);

// True when a file or directory exists at path.
bool PathExists(const char* path);

// True when path (links followed) is something other than a regular file
// or a folder: a named pipe, a device or a socket, which a new file renamed
// over it would destroy (a gunzip onto /dev/null run as root would leave a
// plain file there). False when nothing is there, and always on Windows,
// whose device names no rename reaches.
bool IsSpecialFile(const char* path);

// Reads the attributes of path; false when it does not exist.
bool GetAttributes(const char* path, uint32_t* attributes);

// Makes path writable and visible: normal plus archive (0xA0).
bool SetAttributesNormal(const char* path);

// True when the regular file at path (links followed) may be run: on POSIX
// its owner's execute bit. Windows keeps no such bit, so there it is false.
bool IsExecutableFile(const char* path);

// On POSIX gives the file at path an execute bit for each read bit it has,
// or takes every execute bit away. Windows has nothing to set: true.
bool SetExecutableBits(const char* path, bool executable);

enum class MakeDirResult { kCreated, kAlreadyExists, kFailed };
// Creates one directory; its parent must exist.
MakeDirResult MakeOneDirectory(const char* path);

// Removes an empty directory.
bool RemoveEmptyDirectory(const char* path);

// Deletes a file. A read-only file is refused as Windows refuses it.
bool RemoveFile(const char* path);

// Copies src over dst (created or overwritten) with src's attributes.
bool CopyFileOver(const char* src, const char* dst);

// What a replace does when another handle holds either file open, which on
// Windows makes the rename fail whatever the handle shares: wait, up to
// about two seconds, for a reader to let go (one reading an updater's state
// file, a virus scanner), or fail at once, for a caller with an answer of
// its own to a file that stays held (a running program moved aside).
enum class WhenHeld { kWaitBriefly, kFailAtOnce };

// Renames from to to, replacing an existing file in one step. A read-only
// destination is refused, on every system. On POSIX the replacement takes
// the permission bits (rwx for owner, group and others) of the file it
// replaces, so that an updated program stays executable; no open file
// holds it up there.
bool ReplaceFileAtomically(const char* from, const char* to,
                           WhenHeld held = WhenHeld::kWaitBriefly);

// Creates path as a new, empty file open for binary writing, readable and
// writable as any new file is. Never opens an existing file: when anything
// of that name exists the result is null and errno is EEXIST.
FILE* CreateNewFile(const char* path);

// The longest path, terminator excluded, that this system's file calls take:
// MAX_PATH - 1 on Windows.
extern const size_t kMaxFilePathLength;

// The path of the file that path names once the symbolic links met at its
// last component are followed (the link's own name when it leads nowhere
// after many hops). Writing through this path changes the file a link
// points to and keeps the link. path itself where the system has no links.
std::string FollowFileLinks(const char* path);

// What makes a file itself, whatever name reaches it: the device and inode
// on POSIX, the volume serial number and file index on Windows. Two names
// (a "./" spelling, a hard or symbolic link, another letter case on Windows)
// reach the same file exactly when their identities are equal.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
};
inline bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}
inline bool operator<(const FileIdentity& a, const FileIdentity& b) {
  return a.volume != b.volume ? a.volume < b.volume : a.index < b.index;
}

// Identity of the file or directory at path, links followed; false when
// nothing can be reached there (a link that leads nowhere). *isDirectory,
// when asked for, tells whether what path leads to is a directory.
bool GetFileIdentity(const char* path, FileIdentity* identity, bool* isDirectory = nullptr);

// True when both paths reach one existing file or directory.
bool IsSameFile(const char* a, const char* b);

// Full path of the running program's executable (not of this library).
bool GetExecutablePath(std::string* path);

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
// The local time, from one reading of the clock.
LocalTime GetLocalTimeNow();

// Reads section of the initialisation file iniPath as the Windows profile
// functions return it: its lines, each ending in a NUL, within capacity bytes.
// Returns an empty string when the file or the section is missing.
std::string ReadIniSection(const char* iniPath, const char* section, size_t capacity);

// True unless path starts at a root: a separator, a drive letter and colon on
// Windows, or a UNC name.
bool IsRelativePath(const char* path);

// Joins dir and rel with one separator and removes "." and ".." segments; an
// absolute rel stands alone. Fails when the result does not fit the limit
// (MAX_PATH on Windows, 1023 bytes elsewhere).
bool CombinePath(const char* dir, const char* rel, std::string* out);

// The path of file relative to directory fromDir, compared case-insensitively
// component by component, written with '\' separators (".\data\a.txt").
// Fails when the two share no root.
bool RelativePathTo(const char* fromDir, const char* file, std::string* out);

// Length of an open file in bytes, or -1.
int64_t FileLength(FILE* file);

// Moves an open file's position to offset bytes from its start, beyond the
// 2 GiB a long reaches on Windows. False on failure.
bool SeekFile(FILE* file, uint64_t offset);

// Opens a file with the runtime's default sharing (others may read and write).
// Reading is refused for anything but a regular file (a named pipe would
// block), writing for a read-only file.
FILE* OpenFile(const char* path, const char* mode);

// Opens path for binary reading only if it is a regular file, without ever
// waiting: a named pipe, device or directory planted at a name that came
// from outside (a release folder, a build's Filters.ini) is refused, not
// opened for a writer that never comes. With followLinks false a link at
// the last component is refused too (the install folder's own state
// files, which a planted link must not redirect), and on Windows the file
// is not shared for writing: one that another handle has open for writing
// is refused. Every open shares the file's renaming and removal, so a
// reader never makes an update fail to replace it. Null on failure, errno
// set (EINVAL for a file of another kind, ELOOP for a link).
FILE* OpenRegularFile(const char* path, bool followLinks = true);

// Opens a regular file for binary reading while refusing writers: fails if
// another process has it open for writing, where the system can tell. It
// may still be renamed or removed while it is read. The
// file is to be read once from start to end, and the system is told so:
// where it reads ahead from the disk, it reads further.
FILE* OpenFileDenyWrite(const char* path);

// Sets the process-wide locale (C runtime and C++ streams) to the user's
// default, or back to the classic "C" locale.
void SetUserDefaultLocale();
void SetClassicLocale();

// Gives the calling thread, and no other, a little less of the processor
// than the threads it works for (a nice value 5 higher on Linux), so that
// where they share a processor the one it helps runs first. Does nothing
// where the system cannot do that alone: on Windows a thread below normal
// runs only while no normal one is ready, so a busy program beside the
// update would stall it.
void LowerThreadPriority();

// A process-local lock (a critical section on Windows).
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

 private:
  alignas(8) unsigned char storage_[64];
};

class MutexLock {
 public:
  explicit MutexLock(Mutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  ~MutexLock() { mutex_->Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex* mutex_;
};

// Runs a program and waits for it: argv[0] is the program's path. Standard
// output and standard error are collected into *output when it is not null,
// up to the program's end (a process it leaves running, holding the same
// output, does not keep the call waiting).
// Returns the exit status, or -1 when the program could not be started or
// left no status to learn (a Unix program that Wine starts for a Windows
// program has no Windows process to wait for).
int RunProgram(const std::vector<std::string>& argv, std::string* output);

// How waiting for another process ended.
enum class ProcessWait {
  kEnded,     // it has ended, or no process had that id
  kTimedOut,  // it still ran when the time was up
  kFailed,    // it cannot be waited for (another user's, on Windows)
};

// The largest id a process can have here (a pid_t, a Windows DWORD): a
// larger one names no process and is refused, never cut down to one.
uint64_t LargestProcessId();

// Waits, at most timeoutSeconds, until the process with the id pid (any
// process, not only a child of this one) has ended. kFailed for a pid of 0
// or above LargestProcessId().
ProcessWait WaitForProcessEnd(uint64_t pid, int timeoutSeconds);

// Starts argv[0] with the arguments after it and does not wait for it: it
// runs on after this process ends, in a session (POSIX) or process group
// (Windows) of its own, inheriting no handle: its standard streams go
// nowhere. False, with *error set, when it cannot be started.
bool StartProgram(const std::vector<std::string>& argv, std::string* error);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_PLATFORM_H

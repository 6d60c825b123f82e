// What an updater needs beyond the plain file calls to change an install
// folder safely: files created only when new (never through a planted link),
// data made durable before the next step relies on it, names compared the
// way this file system compares them, and links told apart from folders.
#ifndef FILEDIST_PLATFORM_FILE_SAFETY_H
#define FILEDIST_PLATFORM_FILE_SAFETY_H

#include <cstdio>
#include <string>
#include <vector>

namespace plat {

// Creates path for binary writing, failing when anything (a file, a link, a
// dangling link) is already there. *error gets the system's text on failure.
FILE* CreateNewFile(const std::string& path, std::string* error);

// Flushes an open file's data to the disk (fsync, FlushFileBuffers).
bool SyncFile(FILE* file);

// Starts writing an open file's data so far to the disk and returns without
// waiting for it, so that a flush later (SyncFileSystemOf) finds little left
// to wait for. A hint: where the system has no such call nothing happens.
void StartWriteBack(FILE* file);

// Makes the entries of a folder (files renamed into it or removed from it)
// durable; nothing to do where the system keeps names with the data.
bool SyncDirectory(const std::string& dir);

// Makes every file written so far on the file system that holds dir
// durable, in one call rather than one per file (syncfs). Where the system
// has no such call (Windows) nothing happens: SyncFiles flushes each file.
bool SyncFileSystemOf(const std::string& dir);

// Makes the data of the files at paths (all on the file system that holds
// dir) durable, before a record that vouches for them is written, with the
// cheapest calls this system has: one syncfs on POSIX; on Windows, where a
// whole volume is flushed only by an administrator, FlushFileBuffers on each
// file, from several threads so that small files do not wait in line.
// Returns the paths whose data may not be on the disk: none when all went
// well, every one when a flush of the whole file system failed.
std::vector<std::string> SyncFiles(const std::string& dir, const std::vector<std::string>& paths);

// True when both names lead to the same entry of one folder as this file
// system compares names: byte-wise on POSIX; on Windows without regard to
// letter case and ignoring trailing dots and spaces, which Windows strips.
bool SameEntryName(const std::string& a, const std::string& b);

// Why this file system cannot hold an entry named name (one path component),
// or empty when it can: on POSIX a NUL byte; on Windows also control bytes,
// < > : " | ? *, a trailing dot or space and the device names (see
// util::WindowsNameProblem).
std::string EntryNameProblem(const std::string& name);

// The form under which this file system takes names for one entry: the name
// itself on POSIX; on Windows without trailing dots and spaces and upper
// case as the system's code page has it. Names with equal folds reach one
// file.
std::string EntryNameFold(const std::string& name);

// True when anything at all has the name path: a file, a folder, a pipe, or
// a link, one that leads nowhere included (not followed).
bool NameIsTaken(const std::string& path);

// True when path itself is a symbolic link, junction or other reparse point
// (not followed).
bool IsLinkEntry(const std::string& path);

// True when the existing folder dir, with every link resolved, lies inside
// the existing folder root (or is root). False when either cannot be
// resolved. Where links cannot be resolved safely (Windows before Vista),
// any reparse point on the way counts as leading outside.
bool ResolvesInside(const std::string& dir, const std::string& root);

// Gives the file to the permission bits of the regular file model (used
// when a file is replaced, so that a program stays a program). Nothing to do
// where files carry no such bits, or when model is not a regular file.
bool CopyPermissions(const std::string& model, const std::string& file);

// Renames from to to, failing when to exists.
bool RenameNoReplace(const std::string& from, const std::string& to);

// After a failed replace or removal of path: true when the reason is that
// another program holds the file (a running program or a loaded library,
// which Windows refuses to overwrite but lets be renamed, or a file open
// without sharing its deletion, which not even a rename can move). Never on
// POSIX, where a rename or unlink does not care who has the file open. The
// last error stays as the failed call left it.
bool IsFileInUse(const std::string& path);

// The system's text for the last failed call in this thread.
std::string LastErrorText();

}  // namespace plat

#endif  // FILEDIST_PLATFORM_FILE_SAFETY_H

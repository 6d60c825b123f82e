// What an updater needs beyond the plain file calls to change an install
// folder safely: files created only when new (never through a planted link),
// data made durable before the next step relies on it, names compared the
// way this file system compares them, and links told apart from folders.
#ifndef FILEDIST_PLATFORM_FILE_SAFETY_H
#define FILEDIST_PLATFORM_FILE_SAFETY_H

#include <cstdio>
#include <string>

namespace plat {

// Creates path for binary writing, failing when anything (a file, a link, a
// dangling link) is already there. *error gets the system's text on failure.
FILE* CreateNewFile(const std::string& path, std::string* error);

// Opens the regular file path for binary reading without following a link:
// null (with *error set) when path is a symbolic link, junction or other
// reparse point, is not a regular file, or cannot be opened. For the
// updater's state files, which a planted link must not redirect.
FILE* OpenRegularNoFollow(const std::string& path, std::string* error);

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
// has no such call the files' own flushes are relied on.
bool SyncFileSystemOf(const std::string& dir);

// True when both names lead to the same entry of one folder as this file
// system compares names: byte-wise on POSIX; on Windows without regard to
// letter case and ignoring trailing dots and spaces, which Windows strips.
bool SameEntryName(const std::string& a, const std::string& b);

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

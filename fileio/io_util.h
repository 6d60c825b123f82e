// File and path utilities shared by the release pipeline, the client side and
// the exported MakeDirTree. None of them logs; callers decide what to report.
// Every path they format must fit the library's 1024-byte path buffers
// (1023 characters); a longer one makes the operation fail, never overflow.
#ifndef FILEDIST_FILEIO_IO_UTIL_H
#define FILEDIST_FILEIO_IO_UTIL_H

#include <cstddef>
#include <cstdint>
#include <string>

// Capacity of a path buffer, terminator included.
constexpr size_t kPathBufferSize = 1024;

// Creates dirPath with its missing parents. 1 when the directory (or a file
// of that name) exists afterwards, else 0. Bounded: never loops.
int IOUtil_MakeDirTree(const char* dirPath);

// Removes a directory tree depth-first. Read-only files stay, and with them
// the directories above them. Links are removed, never followed, dirPath
// itself included: a link there is removed as a link and what it leads to
// stays. Nonzero when the directory (or the link) itself was removed.
int IOUtil_RemoveDirTree(const char* dirPath);

// Copies src over dst; a read-only, hidden or system dst is made normal
// first. Nonzero on success; 0 with nothing touched when dst is src under
// any name.
int IOUtil_CopyFile(const char* src, const char* dst);

// Writes the startup directory (plat::GetStartupDirectory), without a trailing
// separator, into buffer. 0 when buffer is null or too small for it, or when
// the directory is not known.
int GetStartupDir(char* buffer, size_t capacity);

// Size of the file at path, the low 32 bits as a signed integer, or -1 when
// it cannot be opened.
int32_t IOUtil_GetFileSize(const char* path);

// path itself when absolute, else combined with base and normalised. Empty
// when path is null or the combination fails.
std::string IOUtil_ResolvePath(const char* path, const std::string& base);

// The path of file relative to directory base, such as .\data\a.txt.
bool GetRelPath(const char* base, const char* file, std::string* out);

// dir and rel joined with "." and ".." removed.
bool Combine(const char* dir, const char* rel, std::string* out);

// dir, the platform's separator and name, if that fits a path buffer.
bool FormatChildPath(const std::string& dir, const char* name, std::string* out);

// The text before the last separator of path; false when there is none.
bool SplitParentDir(const std::string& path, std::string* parent);

// True when path names dir itself or lies inside it, told by the identities
// of path and of each directory above it, so that any spelling of dir counts.
// False when dir cannot be reached.
bool IsSameOrInside(const std::string& path, const char* dir);

#endif  // FILEDIST_FILEIO_IO_UTIL_H

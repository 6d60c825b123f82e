// Reading back compressed release files: a whole file expanded into memory,
// and the check that lets a build take an earlier release's compressed file
// instead of compressing the same bytes again.
#ifndef FILEDIST_FILEIO_GZIP_CHECK_H
#define FILEDIST_FILEIO_GZIP_CHECK_H

#include <cstdint>
#include <string>

// Expands the gzip file at path, which must be one whole member, into
// *plain. False for anything else, or when more than limit bytes come out.
bool GunzipFileToString(const char* path, size_t limit, std::string* plain);

// True when the file at path decodes as exactly one whole gzip member (the
// deflate data sound, its trailer matching what it decodes to, nothing
// after it) whose CRC-32 and length are crc and size (the low 32 bits).
bool IsGzipMemberOf(const char* path, uint32_t crc, uint32_t size);

#endif  // FILEDIST_FILEIO_GZIP_CHECK_H

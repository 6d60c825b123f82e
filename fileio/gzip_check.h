// Reading back compressed release files: a whole file expanded into memory,
// and the check that lets a build take an earlier release's compressed file
// instead of compressing the same bytes again.
#ifndef FILEDIST_FILEIO_GZIP_CHECK_H
#define FILEDIST_FILEIO_GZIP_CHECK_H

#include <cstdint>
#include <memory>
#include <string>

namespace zipengine {
class GzipMemberDecoder;
}

// Expands the gzip file at path, which must be one whole member, into
// *plain. False for anything else, or when more than limit bytes come out.
bool GunzipFileToString(const char* path, size_t limit, std::string* plain);

// True when the file at path decodes as exactly one whole gzip member (the
// deflate data sound, its trailer matching what it decodes to, nothing
// after it) whose CRC-32 and length are crc and size (the low 32 bits).
bool IsGzipMemberOf(const char* path, uint32_t crc, uint32_t size);

// The same check for one file after another, as a rebuild makes it for
// nearly every file of a release: the file is read whole in one go and
// decoded by the engine's fast member decoder, and the buffers and tables
// are made once. A file too large to hold in memory is decoded as it is
// read instead.
class GzipMemberChecker {
 public:
  GzipMemberChecker();
  ~GzipMemberChecker();
  GzipMemberChecker(const GzipMemberChecker&) = delete;
  GzipMemberChecker& operator=(const GzipMemberChecker&) = delete;

  bool IsMemberOf(const char* path, uint32_t crc, uint32_t size);
  // The size in bytes of the file the last IsMemberOf read whole.
  size_t file_size() const { return used_; }

 private:
  std::unique_ptr<zipengine::GzipMemberDecoder> decoder_;
  std::unique_ptr<unsigned char[]> bytes_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

#endif  // FILEDIST_FILEIO_GZIP_CHECK_H

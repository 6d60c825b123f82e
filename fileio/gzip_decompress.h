// Turning a fetched gzip file back into the plain file it was made from.
#ifndef FILEDIST_FILEIO_GZIP_DECOMPRESS_H
#define FILEDIST_FILEIO_GZIP_DECOMPRESS_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>

// Size of the pieces data moves in, through one heap buffer per direction.
constexpr size_t kGzipChunkSize = 32768;

enum class DecompressStatus {
  kOk,           // the whole input was decoded (or copied) and written
  kCorrupt,      // bad deflate data, a CRC or length mismatch, or a cut-off stream
  kReadError,    // the source could not be read to its end
  kWriteError,   // the destination refused data
  kTooLong,      // the output grew beyond the limit the caller set
};

// Takes decoded bytes; false stops the decoding with kWriteError.
using DecompressSink = std::function<bool(const unsigned char* data, size_t length)>;

// Streams in to out. Input that begins with the gzip magic is decoded member
// after member (data after the last member that is not a member is ignored);
// any other input is copied as it is. Every member's CRC and length are
// checked, and input that ends inside a member is an error.
DecompressStatus DecompressStream(FILE* in, FILE* out);

// As DecompressStream, handing the output to sink and stopping with
// kTooLong as soon as it would exceed maxOutput bytes, so that a small
// forged file cannot fill the disk.
DecompressStatus DecompressStreamTo(FILE* in, const DecompressSink& sink, uint64_t maxOutput);

// Decompresses the file src into dst, which is created or truncated. Logs one
// error line and returns false when src cannot be read, dst cannot be
// created or written, or the data is damaged; dst then holds whatever was
// decoded before the fault and is the caller's to discard.
bool IOUtil_DecompressFile(const char* src, const char* dst);

// As IOUtil_DecompressFile, on streams already open: in was opened from src,
// out to dst (the names are for the log line). out is flushed, not closed.
bool DecompressOpenFile(FILE* in, const char* src, FILE* out, const char* dst);

#endif  // FILEDIST_FILEIO_GZIP_DECOMPRESS_H

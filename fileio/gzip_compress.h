// Release files are stored as single gzip members that every gzip reader
// expands, made the same way on every target so that a release built on
// Linux and one built on Windows hold the same bytes.
#ifndef FILEDIST_FILEIO_GZIP_COMPRESS_H
#define FILEDIST_FILEIO_GZIP_COMPRESS_H

#include <cstdint>

namespace zipengine {
class FastGzipStream;
}

// Compresses the file src into dst (created or truncated; no suffix added):
// header 1f 8b 08 00 00 00 00 00 00 0b, deflate data from the engine's fast
// mode (no larger than gzip -6 makes on release-like data, in a fraction of
// its time), then the CRC-32 and the length modulo 2^32, both
// little-endian. The bytes depend on the source alone, not on the target. Returns the number of source bytes compressed (0 for an
// empty source, which still gives a valid 20-byte file) or -1 on failure,
// with one error line logged. The source is opened first: a dst that is the
// source file under any name fails with nothing touched, and a source that
// cannot be opened leaves an empty member at dst (unless dst lies inside a
// source directory, which is left alone); a read or write error leaves dst
// incomplete.
int64_t IOUtil_CompressFile(const char* src, const char* dst);

// The same with a stream of the caller's, kept from file to file: a release
// compresses thousands of files, and the stream's tables are made once.
int64_t IOUtil_CompressFile(const char* src, const char* dst, zipengine::FastGzipStream* stream);

#endif  // FILEDIST_FILEIO_GZIP_COMPRESS_H

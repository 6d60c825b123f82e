// Release files are stored as single gzip members that every gzip reader
// expands, made the same way on every target so that a release built on
// Linux and one built on Windows hold the same bytes.
#ifndef FILEDIST_FILEIO_GZIP_COMPRESS_H
#define FILEDIST_FILEIO_GZIP_COMPRESS_H

#include <cstdint>

// Compresses the file src into dst (created or truncated; no suffix added):
// header 1f 8b 08 00 00 00 00 00 00 0b, deflate data at level 6 with the
// default strategy, then the CRC-32 and the length modulo 2^32, both
// little-endian. Returns the number of source bytes compressed (0 for an
// empty source, which still gives a valid 20-byte file) or -1 on failure,
// with one error line logged. The source is opened first: a dst that is the
// source file under any name fails with nothing touched, and a source that
// cannot be opened leaves an empty member at dst (unless dst lies inside a
// source directory, which is left alone); a read or write error leaves dst
// incomplete.
int64_t IOUtil_CompressFile(const char* src, const char* dst);

#endif  // FILEDIST_FILEIO_GZIP_COMPRESS_H

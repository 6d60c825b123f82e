// The compression run: one gzip member (RFC 1952) holding the whole source
// as a deflate stream at level 6.
#ifndef FILEDIST_ZIPENGINE_GZIP_COMPRESSOR_H
#define FILEDIST_ZIPENGINE_GZIP_COMPRESSOR_H


namespace zipengine {

// Compresses source_fd into destination_fd; returns 0. A write error ends in
// the abort step; a read error is taken as the end of the input.
int CompressRun(int source_fd, int destination_fd);

// What the header stores of a name: the part after the last '/', then after
// the last '\\', then after the last ':'.
const char* GzipBaseName(const char* name);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_GZIP_COMPRESSOR_H

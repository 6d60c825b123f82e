// The decompression run: decodes the member or zip entry that the method
// detection accepted and checks it against its CRC-32 and length.
#ifndef FILEDIST_ZIPENGINE_GZIP_DECOMPRESSOR_H
#define FILEDIST_ZIPENGINE_GZIP_DECOMPRESSOR_H

namespace zipengine {

// Returns 0, or 1 when a zip archive holds a second entry (the first has
// been written in full). Every other failure ends in the abort step.
int DecompressRun(int source_fd, int destination_fd);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_GZIP_DECOMPRESSOR_H

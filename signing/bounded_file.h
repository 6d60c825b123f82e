// A whole small file read into memory, refusing one that is larger than its
// reader can sensibly hold (a hostile server may serve anything).
#ifndef FILEDIST_SIGNING_BOUNDED_FILE_H
#define FILEDIST_SIGNING_BOUNDED_FILE_H

#include <cstddef>
#include <string>

// False when the file cannot be opened or read, or holds more than limit
// bytes.
bool ReadBoundedFile(const char* path, size_t limit, std::string* contents);

#endif  // FILEDIST_SIGNING_BOUNDED_FILE_H

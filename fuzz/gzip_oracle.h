// zlib as an independent gzip reader for the fuzz targets: it reads the whole
// input from memory in one go, where the code under test streams it from
// files in chunks.
#ifndef FILEDIST_FUZZ_GZIP_ORACLE_H
#define FILEDIST_FUZZ_GZIP_ORACLE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Decodes the first gzip member of data, checking its CRC and length. False
// when zlib refuses the header or the data, or the member is cut off; out
// then holds what was decoded so far. *used, if given, receives the number of
// input bytes the member took.
bool ZlibFirstMember(const uint8_t* data, size_t size, std::string* out, size_t* used = nullptr);

// Decodes gzip members one after another for as long as the next two bytes
// are the gzip magic; whatever else follows a member is ignored. False when
// any member is refused or cut off.
bool ZlibMembers(const uint8_t* data, size_t size, std::string* out);

}  // namespace fuzz

#endif  // FILEDIST_FUZZ_GZIP_ORACLE_H

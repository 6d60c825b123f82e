// Independent readers for what a release build writes: zlib expands gzip
// members, the MD5 primitives give the key of a byte string.
#ifndef FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H
#define FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H

#include <string>

namespace testing_support {

// Expands gzip data with zlib, which checks the header, the CRC-32 and the
// length. False unless the input is exactly one whole member.
bool GunzipBytes(const std::string& gzip, std::string* plain);

// The expanded contents of a gzip file; a test failure if it is not one
// whole member.
std::string GunzipFile(const std::string& path);

// The file key of a byte string: 32 lowercase hex digits of its MD5 digest.
std::string KeyOfBytes(const std::string& bytes);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H

// Independent readers for what a release build writes: zlib expands gzip
// members, md5sum gives the key of a byte string and sha256sum its SHA-256.
#ifndef FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H
#define FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H

#include <string>
#include <vector>

namespace testing_support {

// Expands gzip data with zlib, which checks the header, the CRC-32 and the
// length. False unless the input is exactly one whole member.
bool GunzipBytes(const std::string& gzip, std::string* plain);

// The expanded contents of a gzip file; a test failure if it is not one
// whole member.
std::string GunzipFile(const std::string& path);

// The file key of a byte string: 32 lowercase hex digits of its MD5 digest,
// as the system's md5sum gives it (started as a Unix program, also from a
// Windows test program under Wine), never the library's own MD5. A test
// failure, and an empty key, when md5sum cannot be run.
std::string KeyOfBytes(const std::string& bytes);

// The keys of several byte strings with one run of md5sum, in their order.
std::vector<std::string> KeysOfBytes(const std::vector<std::string>& contents);

// The SHA-256 of a byte string in lowercase hexadecimal, as the system's
// sha256sum gives it, started as KeyOfBytes starts md5sum.
std::string Sha256OfBytes(const std::string& bytes);

}  // namespace testing_support

#endif  // FILEDIST_TESTS_SUPPORT_RELEASE_ORACLES_H

// File keys: the MD5 digest of a file's bytes as 32 lowercase hex digits.
#ifndef FILEDIST_FILEIO_FILE_KEY_H
#define FILEDIST_FILEIO_FILE_KEY_H

#include <cstddef>
#include <cstdint>
#include <string>

// Text length of a key with its terminating NUL.
constexpr int kFileKeySize = 33;

// A file is keyed from reads of this many bytes (a whole number of MD5
// blocks): large enough that system calls cost little beside the hashing,
// small enough that the bytes are still in the processor's cache when they
// are hashed. Reads of 32 KiB to 256 KiB, into a page-aligned buffer or
// not, cost the same processor time as a whole process
// (bench/file_key_process_bench.sh); what the system spends is the copy
// out of the page cache, as much as md5sum's.
constexpr size_t kFileKeyReadSize = 1 << 18;

// Writes the key of the file at path into keyOut (33 bytes) and prints
// "MD5 (path) = key" on standard output. A file that cannot be opened (or is
// open for writing elsewhere, where the system tells) gets 32 zero digits
// and the line "path can't be opened". A read error ends the data early.
// Returns false when the file could not be read, so that callers can tell an
// unreadable file from one whose digest is zero.
bool ComputeFileKey(const char* path, char* keyOut);

// The same, and the CRC-32 of the file's bytes (as gzip's trailer holds it)
// into *crcOut from the same reading.
bool ComputeFileKeyAndCrc(const char* path, char* keyOut, uint32_t* crcOut);

// The same, and for the release's manifest the SHA-256 digest of the
// file's bytes (32 bytes) into sha256Out and the number of bytes read into
// *sizeOut, each when not null.
bool ComputeFileDigests(const char* path, char* keyOut, uint32_t* crcOut, unsigned char* sha256Out,
                        uint64_t* sizeOut);

// The key of an MD5 digest: its 32 lowercase hexadecimal digits.
std::string FileKeyOfDigest(const unsigned char digest[16]);

// The key of bytes held in memory, as ComputeFileKey gives it for a file
// holding them.
std::string FileKeyOfBytes(const void* data, size_t size);

#endif  // FILEDIST_FILEIO_FILE_KEY_H

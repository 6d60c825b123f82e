// Shared pieces of the fuzz targets: a scratch directory of the fuzzing
// process's own (the library reads and writes named files, so every input is
// first written to a file there) and a check that aborts with a message, so
// that a broken invariant is reported like any crash.
#ifndef FILEDIST_FUZZ_FUZZ_SUPPORT_H
#define FILEDIST_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The directory, made on first use under $TMPDIR (or /dev/shm, else /tmp) and
// removed when the process exits. With -jobs or -fork each process has its own.
const std::string& ScratchDir();

// ScratchDir() joined with name.
std::string ScratchPath(const char* name);

// Writes the bytes to path (created or truncated); aborts when it cannot.
void WriteBytes(const std::string& path, const uint8_t* data, size_t size);
void WriteBytes(const std::string& path, const std::string& bytes);

// Reads a whole file; false when it cannot be opened.
bool ReadBytes(const std::string& path, std::string* bytes);

// Removes a file (read-only or not) if it is there.
void RemoveIfPresent(const std::string& path);

// Prints which invariant failed and where, then aborts.
[[noreturn]] void Fail(const char* what, const char* file, int line);

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

#endif  // FILEDIST_FUZZ_FUZZ_SUPPORT_H

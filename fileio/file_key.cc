#include "fileio/file_key.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common.h"
#include "fileio/md5.h"
#include "log/release_events.h"
#include "platform/platform.h"
#include "zlib.h"

namespace {

// Large reads keep the hashing, not the system calls, the cost of a key.
constexpr size_t kReadSize = 1 << 16;

void WriteHex(const unsigned char digest[16], char* out) {
  static const char kDigits[] = "0123456789abcdef";
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kDigits[digest[i] >> 4];
    out[2 * i + 1] = kDigits[digest[i] & 15];
  }
  out[32] = '\0';
}

}  // namespace

std::string FileKeyOfDigest(const unsigned char digest[16]) {
  char key[kFileKeySize];
  WriteHex(digest, key);
  return key;
}

std::string FileKeyOfBytes(const void* data, size_t size) {
  Md5State state;
  Md5Init(&state);
  Md5Update(&state, data, size);
  unsigned char digest[16];
  Md5Final(&state, digest);
  return FileKeyOfDigest(digest);
}

bool ComputeFileKey(const char* path, char* keyOut) { return ComputeFileKeyAndCrc(path, keyOut, nullptr); }

bool ComputeFileKeyAndCrc(const char* path, char* keyOut, uint32_t* crcOut) {
  if (keyOut == nullptr) return false;
  unsigned char digest[16] = {};
  FILE* file = path != nullptr ? plat::OpenFileDenyWrite(path) : nullptr;
  if (file == nullptr) {
    // A watching host (the filedist program) shows its user the error line
    // the scan writes instead.
    if (path != nullptr && !GetReleaseObserver()) std::printf("%s can't be opened\n", path);
    WriteHex(digest, keyOut);
    return false;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
  Md5State state;
  Md5Init(&state);
  uLong crc = crc32(0L, Z_NULL, 0);
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kReadSize, file);
    if (got == 0) break;
    Md5Update(&state, buffer.get(), got);
    // While the bytes are at hand: a second reading would cost more.
    if (crcOut != nullptr) crc = crc32(crc, buffer.get(), static_cast<uInt>(got));
  }
  if (crcOut != nullptr) *crcOut = static_cast<uint32_t>(crc);
  bool complete = !std::ferror(file);
  Md5Final(&state, digest);
  std::fclose(file);
  WriteHex(digest, keyOut);
  if (!GetReleaseObserver()) std::printf("MD%d (%s) = %s\n", 5, path, keyOut);
  return complete;
}

extern "C" COMMON_API void COMMON_CALL GetFileKey(const char* filePath, char* keyOut) {
  ComputeFileKey(filePath, keyOut);
}

#include "fileio/file_key.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "common.h"
#include "fileio/md5.h"
#include "log/release_events.h"
#include "platform/platform.h"
#include "signing/sha256.h"
#include "zlib.h"

namespace {

static_assert(kFileKeyReadSize % 64 == 0, "whole MD5 blocks are hashed in place, not copied");

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

bool ComputeFileKey(const char* path, char* keyOut) {
  return ComputeFileKeyAndCrc(path, keyOut, nullptr);
}

bool ComputeFileKeyAndCrc(const char* path, char* keyOut, uint32_t* crcOut) {
  return ComputeFileDigests(path, keyOut, crcOut, nullptr, nullptr);
}

bool ComputeFileDigests(const char* path, char* keyOut, uint32_t* crcOut, unsigned char* sha256Out,
                        uint64_t* sizeOut) {
  if (keyOut == nullptr) return false;
  if (sha256Out != nullptr) std::memset(sha256Out, 0, kSha256Size);
  if (sizeOut != nullptr) *sizeOut = 0;
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
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kFileKeyReadSize]);
  Md5State state;
  Md5Init(&state);
  uLong crc = crc32(0L, Z_NULL, 0);
  std::unique_ptr<Sha256> sha256(sha256Out != nullptr ? new Sha256 : nullptr);
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kFileKeyReadSize, file);
    if (got == 0) break;
    Md5Update(&state, buffer.get(), got);
    // While the bytes are at hand: a second reading would cost more.
    if (crcOut != nullptr) crc = crc32(crc, buffer.get(), static_cast<uInt>(got));
    if (sha256 != nullptr) sha256->Update(buffer.get(), got);
    if (sizeOut != nullptr) *sizeOut += got;
  }
  if (sha256 != nullptr) sha256->Final(sha256Out);
  if (crcOut != nullptr) *crcOut = static_cast<uint32_t>(crc);
  bool complete = !std::ferror(file) && (sha256 == nullptr || sha256->ok());
  Md5Final(&state, digest);
  std::fclose(file);
  WriteHex(digest, keyOut);
  if (!GetReleaseObserver()) std::printf("MD%d (%s) = %s\n", 5, path, keyOut);
  return complete;
}

extern "C" COMMON_API void COMMON_CALL GetFileKey(const char* filePath, char* keyOut) {
  ComputeFileKey(filePath, keyOut);
}

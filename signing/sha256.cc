#include "signing/sha256.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "signing/crypto_library.h"
#include "signing/hex_text.h"

Sha256::Sha256() {
  gcry_md_hd_t handle = nullptr;
  if (EnsureCryptoLibrary() && gcry_md_open(&handle, GCRY_MD_SHA256, 0) == 0) handle_ = handle;
}

Sha256::~Sha256() {
  if (handle_ != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Sha256::Update(const void* data, size_t size) {
  if (handle_ != nullptr && size > 0) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

void Sha256::Final(unsigned char digest[kSha256Size]) {
  std::memset(digest, 0, kSha256Size);
  if (handle_ == nullptr) return;
  const unsigned char* result = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_SHA256);
  if (result != nullptr) std::memcpy(digest, result, kSha256Size);
}

std::string Sha256Hex(const unsigned char digest[kSha256Size]) {
  return HexText(digest, kSha256Size);
}

bool Sha256OfFile(const char* path, std::string* hexOut, uint64_t* sizeOut) {
  FILE* file = path != nullptr ? plat::OpenFile(path, "rb") : nullptr;
  if (file == nullptr) return false;
  Sha256 digest;
  constexpr size_t kReadSize = 1 << 16;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadSize]);
  uint64_t size = 0;
  for (;;) {
    size_t got = std::fread(buffer.get(), 1, kReadSize, file);
    if (got == 0) break;
    digest.Update(buffer.get(), got);
    size += got;
  }
  bool complete = !std::ferror(file) && digest.ok();
  std::fclose(file);
  if (!complete) return false;
  unsigned char bytes[kSha256Size];
  digest.Final(bytes);
  *hexOut = Sha256Hex(bytes);
  *sizeOut = size;
  return true;
}

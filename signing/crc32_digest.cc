#include "signing/crc32_digest.h"

#include <gcrypt.h>

#include "signing/crypto_library.h"

Crc32Digest::Crc32Digest() {
  gcry_md_hd_t handle = nullptr;
  if (EnsureCryptoLibrary() && gcry_md_open(&handle, GCRY_MD_CRC32, 0) == 0) handle_ = handle;
}

Crc32Digest::~Crc32Digest() {
  if (handle_ != nullptr) gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void Crc32Digest::Reset() {
  if (handle_ != nullptr) gcry_md_reset(static_cast<gcry_md_hd_t>(handle_));
}

void Crc32Digest::Update(const void* data, size_t size) {
  if (handle_ != nullptr && size > 0) gcry_md_write(static_cast<gcry_md_hd_t>(handle_), data, size);
}

uint32_t Crc32Digest::Value() {
  if (handle_ == nullptr) return 0;
  const unsigned char* bytes = gcry_md_read(static_cast<gcry_md_hd_t>(handle_), GCRY_MD_CRC32);
  if (bytes == nullptr) return 0;
  // libgcrypt gives the four bytes most significant first.
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
         uint32_t{bytes[3]};
}

// The CRC-32 of gzip (RFC 1952, ISO 3309) through libgcrypt, whose code for
// it runs several times as fast as a table-driven one where the processor
// multiplies without carry: downloads check every decoded byte against
// their gzip trailers with it.
#ifndef FILEDIST_SIGNING_CRC32_DIGEST_H
#define FILEDIST_SIGNING_CRC32_DIGEST_H

#include <cstddef>
#include <cstdint>

class Crc32Digest {
 public:
  Crc32Digest();
  ~Crc32Digest();
  Crc32Digest(const Crc32Digest&) = delete;
  Crc32Digest& operator=(const Crc32Digest&) = delete;

  // False when libgcrypt could not be made ready: the caller computes the
  // CRC another way, as Update and Value then do nothing.
  bool ok() const { return handle_ != nullptr; }
  // Begins again with no bytes.
  void Reset();
  void Update(const void* data, size_t size);
  // The CRC of the bytes since the last Reset, as the gzip trailer holds
  // it; no bytes may be added after it until Reset.
  uint32_t Value();

 private:
  void* handle_ = nullptr;
};

#endif  // FILEDIST_SIGNING_CRC32_DIGEST_H

// SHA-256 digests (FIPS 180-4) through libgcrypt.
#ifndef FILEDIST_SIGNING_SHA256_H
#define FILEDIST_SIGNING_SHA256_H

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kSha256Size = 32;

// A digest computed piece by piece.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False when libgcrypt could not be made ready; Update and Final then do
  // nothing and the digest is all zeros.
  bool ok() const { return handle_ != nullptr; }
  void Update(const void* data, size_t size);
  // Writes the 32 bytes of the digest; the object takes no more data.
  void Final(unsigned char digest[kSha256Size]);

 private:
  void* handle_ = nullptr;
};

// 64 lowercase hexadecimal digits.
std::string Sha256Hex(const unsigned char digest[kSha256Size]);

// The digest of the file at path, in hexadecimal, and its size in bytes.
// False when the file cannot be opened or read whole.
bool Sha256OfFile(const char* path, std::string* hexOut, uint64_t* sizeOut);

#endif  // FILEDIST_SIGNING_SHA256_H

#include "signing/ed25519_curve.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "signing/crypto_library.h"

namespace {

constexpr size_t kHashSize = 64;
using Hash512 = std::array<unsigned char, kHashSize>;
using Encoded = std::array<unsigned char, kEd25519KeySize>;

// Owners of libgcrypt's objects, so that every early return releases them.
class Mpi {
 public:
  Mpi() : mpi_(gcry_mpi_new(0)) {}
  explicit Mpi(gcry_mpi_t mpi) : mpi_(mpi) {}
  ~Mpi() { gcry_mpi_release(mpi_); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  Mpi(Mpi&& other) noexcept : mpi_(std::exchange(other.mpi_, nullptr)) {}
  gcry_mpi_t get() const { return mpi_; }

 private:
  gcry_mpi_t mpi_;
};

class Point {
 public:
  Point() : point_(gcry_mpi_point_new(0)) {}
  explicit Point(gcry_mpi_point_t point) : point_(point) {}
  ~Point() { gcry_mpi_point_release(point_); }
  Point(const Point&) = delete;
  Point& operator=(const Point&) = delete;
  gcry_mpi_point_t get() const { return point_; }

 private:
  gcry_mpi_point_t point_;
};

// The curve with its base point B and the order L of B.
class Curve {
 public:
  Curve() {
    if (gcry_mpi_ec_new(&context_, nullptr, "Ed25519") != 0) context_ = nullptr;
    if (context_ == nullptr) return;
    base_ = gcry_mpi_ec_get_point("g", context_, 1);
    order_ = gcry_mpi_ec_get_mpi("n", context_, 1);
  }
  ~Curve() {
    gcry_mpi_point_release(base_);
    gcry_mpi_release(order_);
    gcry_ctx_release(context_);
  }
  Curve(const Curve&) = delete;
  Curve& operator=(const Curve&) = delete;

  bool ok() const { return context_ != nullptr && base_ != nullptr && order_ != nullptr; }
  gcry_ctx_t context() const { return context_; }
  gcry_mpi_point_t base() const { return base_; }
  gcry_mpi_t order() const { return order_; }

 private:
  gcry_ctx_t context_ = nullptr;
  gcry_mpi_point_t base_ = nullptr;
  gcry_mpi_t order_ = nullptr;
};

struct Bytes {
  const void* data;
  size_t size;
};

// SHA-512 of parts, one after the other, streamed: the message is not copied.
bool Sha512(std::initializer_list<Bytes> parts, Hash512* digest) {
  gcry_md_hd_t hash = nullptr;
  if (gcry_md_open(&hash, GCRY_MD_SHA512, 0) != 0) return false;
  for (const Bytes& part : parts) gcry_md_write(hash, part.data, part.size);
  const unsigned char* result = gcry_md_read(hash, GCRY_MD_SHA512);
  if (result != nullptr) std::memcpy(digest->data(), result, kHashSize);
  gcry_md_close(hash);
  return result != nullptr;
}

// RFC 8032 writes integers little-endian; libgcrypt reads them big-endian.
Mpi FromLittleEndian(const unsigned char* bytes, size_t size) {
  std::array<unsigned char, kHashSize> bigEndian{};
  std::reverse_copy(bytes, bytes + size, bigEndian.begin());
  gcry_mpi_t value = nullptr;
  if (gcry_mpi_scan(&value, GCRYMPI_FMT_USG, bigEndian.data(), size, nullptr) != 0) {
    value = nullptr;
  }
  std::fill(bigEndian.begin(), bigEndian.end(), 0);
  return Mpi(value);
}

// value, below 2^256, as 32 little-endian bytes.
bool ToLittleEndian(gcry_mpi_t value, unsigned char* out) {
  Encoded bigEndian{};
  size_t written = 0;
  if (gcry_mpi_get_nbits(value) > 8 * bigEndian.size() ||
      gcry_mpi_print(GCRYMPI_FMT_USG, bigEndian.data(), bigEndian.size(), &written, value) != 0) {
    return false;
  }
  std::memset(out, 0, bigEndian.size());
  for (size_t i = 0; i < written; ++i) out[i] = bigEndian[written - 1 - i];
  return true;
}

// A point as RFC 8032 encodes it: y little-endian, the low bit of x on top.
bool EncodePoint(const Curve& curve, gcry_mpi_point_t point, unsigned char* out) {
  Mpi x;
  Mpi y;
  if (gcry_mpi_ec_get_affine(x.get(), y.get(), point, curve.context()) != 0 ||
      !ToLittleEndian(y.get(), out)) {
    return false;
  }
  if (gcry_mpi_test_bit(x.get(), 0)) out[kEd25519KeySize - 1] |= 0x80;
  return true;
}

bool DecodePoint(const Curve& curve, const unsigned char* encoded, gcry_mpi_point_t point) {
  Mpi value(gcry_mpi_set_opaque_copy(nullptr, encoded, 8 * kEd25519KeySize));
  return value.get() != nullptr &&
         gcry_mpi_ec_decode_point(point, value.get(), curve.context()) == 0;
}

// A 64-byte digest as an integer modulo L.
Mpi ReducedDigest(const Curve& curve, const Hash512& digest) {
  Mpi wide = FromLittleEndian(digest.data(), digest.size());
  if (wide.get() == nullptr) return Mpi(nullptr);
  Mpi reduced;
  gcry_mpi_mod(reduced.get(), wide.get(), curve.order());
  return reduced;
}

// k = SHA-512(R || A || M) mod L, the challenge both sides compute.
Mpi Challenge(const Curve& curve, const unsigned char* encodedR, const unsigned char* encodedA,
              const std::string& message) {
  Hash512 digest;
  if (!Sha512({{encodedR, kEd25519KeySize},
               {encodedA, kEd25519KeySize},
               {message.data(), message.size()}},
              &digest)) {
    return Mpi(nullptr);
  }
  return ReducedDigest(curve, digest);
}

}  // namespace

bool SignEd25519OnCurve(const Ed25519PrivateKey& privateKey, const std::string& message,
                        Ed25519Signature* signature) {
  if (!EnsureCryptoLibrary()) return false;
  Curve curve;
  Hash512 expanded;
  if (!curve.ok() || !Sha512({{privateKey.data(), privateKey.size()}}, &expanded)) return false;
  // The secret scalar a from the seed's hash, clamped as RFC 8032 says; the
  // hash's second half is the prefix that makes the nonce deterministic.
  expanded[0] &= 248;
  expanded[31] &= 127;
  expanded[31] |= 64;
  Mpi secret = FromLittleEndian(expanded.data(), kEd25519KeySize);
  Hash512 nonceDigest;
  bool ok = secret.get() != nullptr && Sha512({{expanded.data() + kEd25519KeySize, kEd25519KeySize},
                                               {message.data(), message.size()}},
                                              &nonceDigest);
  std::fill(expanded.begin(), expanded.end(), 0);
  if (!ok) return false;
  Mpi nonce = ReducedDigest(curve, nonceDigest);
  std::fill(nonceDigest.begin(), nonceDigest.end(), 0);
  if (nonce.get() == nullptr) return false;

  Point publicPoint;
  Point noncePoint;
  Encoded encodedA;
  gcry_mpi_ec_mul(publicPoint.get(), secret.get(), curve.base(), curve.context());
  gcry_mpi_ec_mul(noncePoint.get(), nonce.get(), curve.base(), curve.context());
  if (!EncodePoint(curve, publicPoint.get(), encodedA.data()) ||
      !EncodePoint(curve, noncePoint.get(), signature->data())) {
    return false;
  }
  Mpi challenge = Challenge(curve, signature->data(), encodedA.data(), message);
  if (challenge.get() == nullptr) return false;
  // S = (r + k * a) mod L.
  Mpi product;
  Mpi s;
  gcry_mpi_mulm(product.get(), challenge.get(), secret.get(), curve.order());
  gcry_mpi_addm(s.get(), nonce.get(), product.get(), curve.order());
  return ToLittleEndian(s.get(), signature->data() + kEd25519KeySize);
}

bool VerifyEd25519OnCurve(const Ed25519PublicKey& publicKey, const std::string& message,
                          const Ed25519Signature& signature) {
  if (!EnsureCryptoLibrary()) return false;
  Curve curve;
  if (!curve.ok()) return false;
  // S must be reduced, or one signature would have many encodings.
  Mpi s = FromLittleEndian(signature.data() + kEd25519KeySize, kEd25519KeySize);
  Point publicPoint;
  if (s.get() == nullptr || gcry_mpi_cmp(s.get(), curve.order()) >= 0 ||
      !DecodePoint(curve, publicKey.data(), publicPoint.get())) {
    return false;
  }
  Mpi challenge = Challenge(curve, signature.data(), publicKey.data(), message);
  if (challenge.get() == nullptr) return false;
  // [S]B - [k]A must encode to exactly the R of the signature.
  Point sB;
  Point kA;
  Point expectedR;
  gcry_mpi_ec_mul(sB.get(), s.get(), curve.base(), curve.context());
  gcry_mpi_ec_mul(kA.get(), challenge.get(), publicPoint.get(), curve.context());
  gcry_mpi_ec_sub(expectedR.get(), sB.get(), kA.get(), curve.context());
  Encoded encodedR;
  return EncodePoint(curve, expectedR.get(), encodedR.data()) &&
         std::memcmp(encodedR.data(), signature.data(), kEd25519KeySize) == 0;
}

#include "signing/ed25519.h"

#include <gcrypt.h>

#include <cstring>

#include "signing/crypto_library.h"
#include "signing/ed25519_curve.h"

namespace {

// Owns one S-expression.
class Sexp {
 public:
  Sexp() = default;
  ~Sexp() { gcry_sexp_release(sexp_); }
  Sexp(const Sexp&) = delete;
  Sexp& operator=(const Sexp&) = delete;
  gcry_sexp_t* out() { return &sexp_; }
  gcry_sexp_t get() const { return sexp_; }

 private:
  gcry_sexp_t sexp_ = nullptr;
};

// Copies the data of the token name's value inside sexp into out, which
// must come to exactly size bytes. libgcrypt may put the 0x40 prefix of
// its native point encoding before a public key.
bool TakeToken(gcry_sexp_t sexp, const char* name, unsigned char* out, size_t size) {
  Sexp token;
  *token.out() = gcry_sexp_find_token(sexp, name, 0);
  if (token.get() == nullptr) return false;
  size_t length = 0;
  const char* data = gcry_sexp_nth_data(token.get(), 1, &length);
  if (data == nullptr) return false;
  if (length == size + 1 && static_cast<unsigned char>(data[0]) == 0x40) {
    ++data;
    --length;
  }
  if (length != size) return false;
  std::memcpy(out, data, size);
  return true;
}

bool BuildMessage(const std::string& message, Sexp* data) {
  return gcry_sexp_build(data->out(), nullptr, "(data (flags eddsa) (hash-algo sha512) (value %b))",
                         static_cast<int>(message.size()), message.data()) == 0;
}

}  // namespace

bool GenerateEd25519KeyPair(Ed25519PublicKey* publicKey, Ed25519PrivateKey* privateKey) {
  if (!EnsureCryptoLibrary()) return false;
  Sexp parameters;
  Sexp pair;
  if (gcry_sexp_build(parameters.out(), nullptr, "(genkey (ecc (curve Ed25519) (flags eddsa)))") !=
          0 ||
      gcry_pk_genkey(pair.out(), parameters.get()) != 0) {
    return false;
  }
  return TakeToken(pair.get(), "q", publicKey->data(), publicKey->size()) &&
         TakeToken(pair.get(), "d", privateKey->data(), privateKey->size());
}

bool SignEd25519(const Ed25519PrivateKey& privateKey, const std::string& message,
                 Ed25519Signature* signature) {
  if (message.size() > kEd25519LibraryMessageLimit) {
    return SignEd25519OnCurve(privateKey, message, signature);
  }
  if (!EnsureCryptoLibrary()) return false;
  Sexp key;
  Sexp data;
  Sexp result;
  if (gcry_sexp_build(key.out(), nullptr,
                      "(private-key (ecc (curve Ed25519) (flags eddsa) (d %b)))",
                      static_cast<int>(privateKey.size()), privateKey.data()) != 0 ||
      !BuildMessage(message, &data) || gcry_pk_sign(result.out(), data.get(), key.get()) != 0) {
    return false;
  }
  return TakeToken(result.get(), "r", signature->data(), kEd25519KeySize) &&
         TakeToken(result.get(), "s", signature->data() + kEd25519KeySize, kEd25519KeySize);
}

bool VerifyEd25519(const Ed25519PublicKey& publicKey, const std::string& message,
                   const Ed25519Signature& signature) {
  if (message.size() > kEd25519LibraryMessageLimit) {
    return VerifyEd25519OnCurve(publicKey, message, signature);
  }
  if (!EnsureCryptoLibrary()) return false;
  Sexp key;
  Sexp data;
  Sexp value;
  if (gcry_sexp_build(key.out(), nullptr, "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                      static_cast<int>(publicKey.size()), publicKey.data()) != 0 ||
      !BuildMessage(message, &data) ||
      gcry_sexp_build(value.out(), nullptr, "(sig-val (eddsa (r %b) (s %b)))",
                      static_cast<int>(kEd25519KeySize), signature.data(),
                      static_cast<int>(kEd25519KeySize), signature.data() + kEd25519KeySize) != 0) {
    return false;
  }
  return gcry_pk_verify(value.get(), data.get(), key.get()) == 0;
}

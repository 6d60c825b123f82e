// Ed25519 signatures (RFC 8032, pure mode) through libgcrypt: key pairs,
// signing and verifying.
#ifndef FILEDIST_SIGNING_ED25519_H
#define FILEDIST_SIGNING_ED25519_H

#include <array>
#include <cstddef>
#include <string>

constexpr size_t kEd25519KeySize = 32;
constexpr size_t kEd25519SignatureSize = 64;

using Ed25519PublicKey = std::array<unsigned char, kEd25519KeySize>;
// The 32-byte secret seed of RFC 8032, from which the public key follows.
using Ed25519PrivateKey = std::array<unsigned char, kEd25519KeySize>;
using Ed25519Signature = std::array<unsigned char, kEd25519SignatureSize>;

// A new key pair from libgcrypt's random source. False when none was made.
bool GenerateEd25519KeyPair(Ed25519PublicKey* publicKey, Ed25519PrivateKey* privateKey);

// Signs message whole, of any size (see ed25519_curve.h). False when
// libgcrypt refused.
bool SignEd25519(const Ed25519PrivateKey& privateKey, const std::string& message,
                 Ed25519Signature* signature);

// True only when signature is publicKey's signature of message.
bool VerifyEd25519(const Ed25519PublicKey& publicKey, const std::string& message,
                   const Ed25519Signature& signature);

#endif  // FILEDIST_SIGNING_ED25519_H

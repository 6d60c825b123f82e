// Ed25519 (RFC 8032, pure mode) composed from libgcrypt's SHA-512 and its
// Edwards-curve arithmetic, for messages of any size.
//
// libgcrypt signs and verifies only what fits in one S-expression field,
// whose length is 16 bits: a message near 64 KiB makes gcry_pk_sign and
// gcry_pk_verify fail, and one of 64 KiB or more aborts the process inside
// the library. A release's Manifest passes that size at about 630 files, and
// a client must survive any Manifest a server sends, so ed25519.cc hands
// messages above kEd25519LibraryMessageLimit to these functions. The
// signatures are the standard ones: either path verifies the other's.
#ifndef FILEDIST_SIGNING_ED25519_CURVE_H
#define FILEDIST_SIGNING_ED25519_CURVE_H

#include <cstddef>
#include <string>

#include "signing/ed25519.h"

// Messages up to this size go through gcry_pk_sign and gcry_pk_verify: well
// below the S-expression limit, whatever libgcrypt adds around the value.
constexpr size_t kEd25519LibraryMessageLimit = 32 * 1024;

// Same contracts as SignEd25519 and VerifyEd25519, for a message of any size.
bool SignEd25519OnCurve(const Ed25519PrivateKey& privateKey, const std::string& message,
                        Ed25519Signature* signature);
bool VerifyEd25519OnCurve(const Ed25519PublicKey& publicKey, const std::string& message,
                          const Ed25519Signature& signature);

#endif  // FILEDIST_SIGNING_ED25519_CURVE_H

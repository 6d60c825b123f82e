// The keys a client trusts: filedist.pub (or --trust FILE) holds one public
// key line per key ("ed25519-public" and 64 hexadecimal digits), so that a
// publisher moving to a new key can ship it beside the old one first. A
// signature by any of them is taken.
#ifndef FILEDIST_SIGNING_TRUSTED_KEYS_H
#define FILEDIST_SIGNING_TRUSTED_KEYS_H

#include <string>
#include <vector>

#include "signing/ed25519.h"

// At most this many keys in one file.
constexpr size_t kTrustedKeyLimit = 64;

// False when the file cannot be read, holds no key, more than the limit, or
// a line (empty lines aside) that is not a public key line.
bool ReadTrustedKeysFile(const char* path, std::vector<Ed25519PublicKey>* keys);

// True when signature over message is any of keys'.
bool VerifyByAnyKey(const std::vector<Ed25519PublicKey>& keys, const std::string& message,
                    const Ed25519Signature& signature);

#endif  // FILEDIST_SIGNING_TRUSTED_KEYS_H

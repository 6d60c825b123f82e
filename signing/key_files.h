// The key files of `filedist keygen` and the signature file Manifest.sig.
// Each is one line of text: a tag naming the algorithm and what the file
// holds, a space, the bytes in lowercase hexadecimal, a line feed:
//   NAME.key      "ed25519-private " + 64 digits (the RFC 8032 seed)
//   NAME.pub      "ed25519-public " + 64 digits
//   Manifest.sig  "ed25519-signature " + 128 digits (R then S)
// Readers take exactly that, with a carriage return allowed before the line
// feed, and nothing else.
#ifndef FILEDIST_SIGNING_KEY_FILES_H
#define FILEDIST_SIGNING_KEY_FILES_H

#include <string>

#include "signing/ed25519.h"

std::string FormatPublicKeyFile(const Ed25519PublicKey& key);
std::string FormatPrivateKeyFile(const Ed25519PrivateKey& key);
std::string FormatSignatureFile(const Ed25519Signature& signature);

bool ParsePublicKeyFile(const std::string& text, Ed25519PublicKey* key);
bool ParsePrivateKeyFile(const std::string& text, Ed25519PrivateKey* key);
bool ParseSignatureFile(const std::string& text, Ed25519Signature* signature);

// The files themselves. False when the file cannot be read or does not hold
// exactly one such line.
bool ReadPublicKeyFile(const char* path, Ed25519PublicKey* key);
bool ReadPrivateKeyFile(const char* path, Ed25519PrivateKey* key);
bool ReadSignatureFile(const char* path, Ed25519Signature* signature);

#endif  // FILEDIST_SIGNING_KEY_FILES_H

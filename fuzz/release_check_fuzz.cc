// The client's check of a release on input of any size: a channel pointer
// and its signature, the Manifest and its signature, the patch index and its
// signature, against a trusted key file.
//
// Input: one byte of flags, then the six texts in that order, separated by
// NUL bytes (none of them may hold one). Flag bits 0, 1 and 2 replace the
// pointer's, the Manifest's and the patch index's signature with a real one
// by the trusted key, so that mutations reach past the signature into the
// readers, and above the 64 KiB where libgcrypt's own signing gives up;
// bit 3 puts a second, untrusted key before it in the key file.
//
// Invariants: nothing aborts; a text signed by the trusted key verifies at
// any size, and the same signature with one bit changed does not; a
// Manifest taken is the writer's text for what was read.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "protocol/channel_pointer.h"
#include "signing/channel_signature.h"
#include "signing/ed25519.h"
#include "signing/hex_text.h"
#include "signing/key_files.h"
#include "signing/manifest_check.h"
#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"
#include "signing/trusted_keys.h"

namespace {

// RFC 8032's first test key: fixed, so that a saved input replays the same.
const char kTrustedSeed[] = "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
const char kTrustedPublic[] = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
const char kOtherPublic[] = "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c";

enum Part { kPointer, kPointerSignature, kManifest, kManifestSignature, kIndex, kIndexSignature };
constexpr int kParts = 6;

std::vector<std::string> Split(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(kParts);
  int part = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && part + 1 < kParts) {
      ++part;
    } else {
      parts[part].push_back(static_cast<char>(data[i]));
    }
  }
  return parts;
}

Ed25519PrivateKey TrustedKey() {
  Ed25519PrivateKey key;
  FUZZ_CHECK(ParseHexText(kTrustedSeed, key.data(), key.size()));
  return key;
}

// Signs text with the trusted key into the signature file's form; checks
// first that the signature verifies and that a changed one does not.
std::string SignatureFileOf(const std::string& text) {
  static const Ed25519PrivateKey key = TrustedKey();
  Ed25519PublicKey publicKey;
  FUZZ_CHECK(ParseHexText(kTrustedPublic, publicKey.data(), publicKey.size()));
  Ed25519Signature signature;
  FUZZ_CHECK(SignEd25519(key, text, &signature));
  FUZZ_CHECK(VerifyEd25519(publicKey, text, signature));
  Ed25519Signature changed = signature;
  changed[text.size() % changed.size()] ^= 0x20;
  FUZZ_CHECK(!VerifyEd25519(publicKey, text, changed));
  return "ed25519-signature " + HexText(signature.data(), signature.size()) + "\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  std::vector<std::string> parts = Split(data + 1, size - 1);
  if (flags & 1) parts[kPointerSignature] = SignatureFileOf(parts[kPointer]);
  if (flags & 2) parts[kManifestSignature] = SignatureFileOf(parts[kManifest]);
  if (flags & 4) parts[kIndexSignature] = SignatureFileOf(parts[kIndex]);

  std::string keyText = "ed25519-public " + std::string(kTrustedPublic) + "\n";
  if (flags & 8) keyText = "ed25519-public " + std::string(kOtherPublic) + "\n" + keyText;
  const std::string keyFile = fuzz::ScratchPath("trusted.pub");
  fuzz::WriteBytes(keyFile, keyText);
  std::vector<Ed25519PublicKey> keys;
  FUZZ_CHECK(ReadTrustedKeysFile(keyFile.c_str(), &keys));

  // The pointer: its signature first, as a client reads it.
  std::string error;
  bool pointerSigned =
      VerifyChannelSignature(parts[kPointer], parts[kPointerSignature], keyFile, &error);
  if (flags & 1) FUZZ_CHECK(pointerSigned);
  ChannelPointer pointer;
  if (pointerSigned && ParseChannelPointer(parts[kPointer], &pointer, &error)) {
    FUZZ_CHECK(FormatChannelPointer(pointer) == parts[kPointer]);
  }

  // The Manifest, through the files a client has fetched into staging.
  const std::string manifestFile = fuzz::ScratchPath("Manifest");
  const std::string signatureFile = fuzz::ScratchPath("Manifest.sig");
  fuzz::WriteBytes(manifestFile, parts[kManifest]);
  fuzz::WriteBytes(signatureFile, parts[kManifestSignature]);
  ReleaseManifest manifest;
  std::string detail;
  ManifestCheck check =
      CheckSignedManifest(manifestFile, signatureFile, keyFile, &manifest, &detail);
  if (flags & 2)
    FUZZ_CHECK(check == ManifestCheck::kVerified || check == ManifestCheck::kBadManifest);
  if (check == ManifestCheck::kVerified) {
    FUZZ_CHECK(FormatManifest(manifest) == parts[kManifest]);
  }

  // The patch index, signed like the Manifest.
  Ed25519Signature indexSignature;
  bool indexSigned = ParseSignatureFile(parts[kIndexSignature], &indexSignature) &&
                     VerifyByAnyKey(keys, parts[kIndex], indexSignature);
  if (flags & 4) FUZZ_CHECK(indexSigned);
  PatchIndex index;
  if (indexSigned && ParsePatchIndex(parts[kIndex], &index, &error)) {
    FUZZ_CHECK(FormatPatchIndex(index) == parts[kIndex]);
  }
  return 0;
}

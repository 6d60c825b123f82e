// Signing a release: the Manifest of a patch directory signed with the
// publisher's private key into Manifest.sig beside it (the format in
// key_files.h). Clients that trust the public key install nothing whose
// Manifest the signature does not cover.
#ifndef FILEDIST_SIGNING_RELEASE_SIGNATURE_H
#define FILEDIST_SIGNING_RELEASE_SIGNATURE_H

#include <string>

#include "signing/ed25519.h"

// Writes patchDir's Manifest.sig, a file that must not exist yet, and, where
// the release has binary patches, PatchIndex.sig beside its PatchIndex
// (protocol/patch_index.h). False with *error set when a file cannot be read
// or signed or a signature cannot be written; no half-written signature is
// left behind then.
bool SignReleaseManifest(const std::string& patchDir, const Ed25519PrivateKey& key,
                         std::string* error);

#endif  // FILEDIST_SIGNING_RELEASE_SIGNATURE_H

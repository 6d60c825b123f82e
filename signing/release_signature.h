// Signing a release: the Manifest of a patch directory signed with the
// publisher's private key into Manifest.sig beside it (the format in
// key_files.h). Clients that trust the public key install nothing whose
// Manifest the signature does not cover.
#ifndef FILEDIST_SIGNING_RELEASE_SIGNATURE_H
#define FILEDIST_SIGNING_RELEASE_SIGNATURE_H

#include <string>

#include "signing/ed25519.h"

// Writes patchDir's Manifest.sig, a file that must not exist yet. False
// with *error set when the Manifest cannot be read or signed or the
// signature cannot be written; no Manifest.sig is left behind then.
bool SignReleaseManifest(const std::string& patchDir, const Ed25519PrivateKey& key,
                         std::string* error);

#endif  // FILEDIST_SIGNING_RELEASE_SIGNATURE_H

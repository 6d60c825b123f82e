// The signer `filedist build --sign` and `filedist promote --sign` hand the
// channel pointer's publisher: the private key's signature over the
// pointer's bytes, as a signature file.
#ifndef FILEDIST_CLI_POINTER_SIGNER_H
#define FILEDIST_CLI_POINTER_SIGNER_H

#include <functional>
#include <string>

#include "signing/ed25519.h"

// The function refers to key, which must outlive it (and is the caller's to
// wipe), rather than keeping a copy of the secret nobody wipes.
std::function<bool(const std::string&, std::string*)> PointerSigner(const Ed25519PrivateKey& key);

#endif  // FILEDIST_CLI_POINTER_SIGNER_H

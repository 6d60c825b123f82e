#include "signing/channel_signature.h"

#include <vector>

#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/trusted_keys.h"

bool VerifyChannelSignature(const std::string& text, const std::string& signatureText,
                            const std::string& publicKeyFile, std::string* error) {
  std::vector<Ed25519PublicKey> keys;
  if (!ReadTrustedKeysFile(publicKeyFile.c_str(), &keys)) {
    *error = "'" + publicKeyFile + "' is not a readable public key file";
    return false;
  }
  Ed25519Signature signature;
  if (!ParseSignatureFile(signatureText, &signature)) {
    *error = "the channel pointer's signature file is not one";
    return false;
  }
  if (!VerifyByAnyKey(keys, text, signature)) {
    *error = "the channel pointer is not signed by the trusted key";
    return false;
  }
  return true;
}

#include "cli/pointer_signer.h"

#include "signing/key_files.h"

std::function<bool(const std::string&, std::string*)> PointerSigner(const Ed25519PrivateKey& key) {
  return [&key](const std::string& text, std::string* signature_file) {
    Ed25519Signature signature;
    if (!SignEd25519(key, text, &signature)) return false;
    *signature_file = FormatSignatureFile(signature);
    return true;
  };
}

#include "signing/trusted_keys.h"

#include "platform/bounded_file.h"
#include "signing/key_files.h"

bool ReadTrustedKeysFile(const char* path, std::vector<Ed25519PublicKey>* keys) {
  std::string text;
  // A key line is 80 bytes with its line end.
  if (!plat::ReadBoundedFile(path, kTrustedKeyLimit * 96, &text)) return false;
  keys->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line =
        text.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
    start = end == std::string::npos ? text.size() : end + 1;
    if (line == "\n" || line == "\r\n") continue;
    if (line.back() != '\n') line += "\n";
    Ed25519PublicKey key;
    if (!ParsePublicKeyFile(line, &key) || keys->size() == kTrustedKeyLimit) return false;
    keys->push_back(key);
  }
  return !keys->empty();
}

bool VerifyByAnyKey(const std::vector<Ed25519PublicKey>& keys, const std::string& message,
                    const Ed25519Signature& signature) {
  for (const Ed25519PublicKey& key : keys) {
    if (VerifyEd25519(key, message, signature)) return true;
  }
  return false;
}

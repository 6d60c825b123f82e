#include "signing/key_files.h"

#include "platform/bounded_file.h"
#include "signing/hex_text.h"

namespace {

const char kPublicTag[] = "ed25519-public ";
const char kPrivateTag[] = "ed25519-private ";
const char kSignatureTag[] = "ed25519-signature ";

// Longer than any of the three lines.
constexpr size_t kKeyFileLimit = 256;

std::string Format(const char* tag, const unsigned char* bytes, size_t size) {
  return tag + HexText(bytes, size) + "\n";
}

bool Parse(const std::string& text, const std::string& tag, unsigned char* bytes, size_t size) {
  if (text.compare(0, tag.size(), tag) != 0) return false;
  std::string rest = text.substr(tag.size());
  if (rest.empty() || rest.back() != '\n') return false;
  rest.pop_back();
  if (!rest.empty() && rest.back() == '\r') rest.pop_back();
  return ParseHexText(rest, bytes, size);
}

template <typename Bytes>
bool ReadAndParse(const char* path, const char* tag, Bytes* bytes) {
  std::string text;
  return plat::ReadBoundedFile(path, kKeyFileLimit, &text) &&
         Parse(text, tag, bytes->data(), bytes->size());
}

}  // namespace

std::string FormatPublicKeyFile(const Ed25519PublicKey& key) {
  return Format(kPublicTag, key.data(), key.size());
}

std::string FormatPrivateKeyFile(const Ed25519PrivateKey& key) {
  return Format(kPrivateTag, key.data(), key.size());
}

std::string FormatSignatureFile(const Ed25519Signature& signature) {
  return Format(kSignatureTag, signature.data(), signature.size());
}

bool ParsePublicKeyFile(const std::string& text, Ed25519PublicKey* key) {
  return Parse(text, kPublicTag, key->data(), key->size());
}

bool ParsePrivateKeyFile(const std::string& text, Ed25519PrivateKey* key) {
  return Parse(text, kPrivateTag, key->data(), key->size());
}

bool ParseSignatureFile(const std::string& text, Ed25519Signature* signature) {
  return Parse(text, kSignatureTag, signature->data(), signature->size());
}

bool ReadPublicKeyFile(const char* path, Ed25519PublicKey* key) {
  return ReadAndParse(path, kPublicTag, key);
}

bool ReadPrivateKeyFile(const char* path, Ed25519PrivateKey* key) {
  return ReadAndParse(path, kPrivateTag, key);
}

bool ReadSignatureFile(const char* path, Ed25519Signature* signature) {
  return ReadAndParse(path, kSignatureTag, signature);
}

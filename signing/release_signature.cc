#include "signing/release_signature.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/bounded_file.h"
#include "signing/key_files.h"
#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"

namespace {

// The signature file signatureName beside the file name of patchDir.
bool SignFile(const std::string& patchDir, const char* name, const char* signatureName,
              size_t limit, const Ed25519PrivateKey& key, std::string* error) {
  std::string path = patchDir + plat::kPathSeparator + name;
  std::string signature_path = patchDir + plat::kPathSeparator + signatureName;
  std::string text;
  if (!plat::ReadBoundedFile(path.c_str(), limit, &text)) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  Ed25519Signature signature;
  if (!SignEd25519(key, text, &signature)) {
    *error = std::string("the ") + name + " could not be signed";
    return false;
  }
  std::string signature_text = FormatSignatureFile(signature);
  FILE* file = plat::CreateNewFile(signature_path.c_str());
  bool written = file != nullptr && std::fwrite(signature_text.data(), 1, signature_text.size(),
                                                file) == signature_text.size();
  if (file != nullptr) written = std::fclose(file) == 0 && written;
  if (!written) {
    *error = "cannot write '" + signature_path + "': " + std::strerror(errno);
    if (file != nullptr) std::remove(signature_path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool SignReleaseManifest(const std::string& patchDir, const Ed25519PrivateKey& key,
                         std::string* error) {
  if (!SignFile(patchDir, kManifestName, kManifestSignatureName, kManifestSizeLimit, key, error)) {
    return false;
  }
  // A release without patches has no index to sign.
  std::string index_path = patchDir + plat::kPathSeparator + kPatchIndexName;
  if (!plat::PathExists(index_path.c_str())) return true;
  return SignFile(patchDir, kPatchIndexName, kPatchIndexSignatureName, kPatchIndexSizeLimit, key,
                  error);
}

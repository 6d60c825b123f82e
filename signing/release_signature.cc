#include "signing/release_signature.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "signing/bounded_file.h"
#include "signing/key_files.h"
#include "signing/release_manifest.h"

bool SignReleaseManifest(const std::string& patchDir, const Ed25519PrivateKey& key,
                         std::string* error) {
  std::string manifest_path = patchDir + plat::kPathSeparator + kManifestName;
  std::string signature_path = patchDir + plat::kPathSeparator + kManifestSignatureName;
  std::string manifest;
  if (!ReadBoundedFile(manifest_path.c_str(), kManifestSizeLimit, &manifest)) {
    *error = "cannot read '" + manifest_path + "'";
    return false;
  }
  Ed25519Signature signature;
  if (!SignEd25519(key, manifest, &signature)) {
    *error = "the Manifest could not be signed";
    return false;
  }
  std::string text = FormatSignatureFile(signature);
  FILE* file = plat::CreateNewFile(signature_path.c_str());
  bool written = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr) written = std::fclose(file) == 0 && written;
  if (!written) {
    *error = "cannot write '" + signature_path + "': " + std::strerror(errno);
    if (file != nullptr) std::remove(signature_path.c_str());
    return false;
  }
  return true;
}

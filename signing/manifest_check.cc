#include "signing/manifest_check.h"

#include <cstdint>

#include "platform/platform.h"
#include "signing/bounded_file.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/sha256.h"

namespace {

std::string Child(const std::string& dir, const char* name) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + name;
  return dir + plat::kPathSeparator + name;
}

bool MatchesListed(const std::string& path, const std::string& sha256, uint64_t size,
                   std::string* detail) {
  std::string actual;
  uint64_t actual_size = 0;
  if (!Sha256OfFile(path.c_str(), &actual, &actual_size)) {
    *detail = path + " cannot be read";
    return false;
  }
  if (actual != sha256 || actual_size != size) {
    *detail = path + " has SHA-256 " + actual + " and " + std::to_string(actual_size) +
              " bytes; the manifest lists " + sha256 + " and " + std::to_string(size);
    return false;
  }
  return true;
}

}  // namespace

ReleaseFiles PatchDirReleaseFiles(const std::string& patchDir) {
  ReleaseFiles files;
  files.manifest = Child(patchDir, kManifestName);
  files.signature = Child(patchDir, kManifestSignatureName);
  files.versionList = Child(patchDir, "VerComp.dat");
  files.keyFile = Child(patchDir, "Ver");
  return files;
}

ManifestCheck CheckSignedRelease(const ReleaseFiles& files, const std::string& publicKeyFile,
                                 ReleaseManifest* manifest, std::string* detail) {
  detail->clear();
  Ed25519PublicKey key;
  if (!ReadPublicKeyFile(publicKeyFile.c_str(), &key)) {
    *detail = publicKeyFile;
    return ManifestCheck::kBadPublicKey;
  }
  std::string text;
  if (!ReadBoundedFile(files.manifest.c_str(), kManifestSizeLimit, &text)) {
    *detail = files.manifest;
    return ManifestCheck::kNoManifest;
  }
  Ed25519Signature signature;
  if (!ReadSignatureFile(files.signature.c_str(), &signature)) {
    *detail = files.signature;
    return ManifestCheck::kNoSignature;
  }
  // Nothing of the manifest is believed, or even parsed, before this.
  if (!VerifyEd25519(key, text, signature)) {
    *detail = files.manifest;
    return ManifestCheck::kBadSignature;
  }
  if (!ParseManifest(text, manifest, detail)) return ManifestCheck::kBadManifest;
  if (!MatchesListed(files.versionList, manifest->verCompSha256, manifest->verCompSize, detail)) {
    return ManifestCheck::kVersionListChanged;
  }
  if (!MatchesListed(files.keyFile, manifest->verSha256, manifest->verSize, detail)) {
    return ManifestCheck::kKeyFileChanged;
  }
  return ManifestCheck::kVerified;
}

const char* DescribeManifestCheck(ManifestCheck result) {
  switch (result) {
    case ManifestCheck::kVerified:
      return "the release is signed by the trusted key and its version list matches";
    case ManifestCheck::kBadPublicKey:
      return "the trusted public key file cannot be read or is not an Ed25519 public key";
    case ManifestCheck::kNoManifest:
      return "the release has no readable Manifest";
    case ManifestCheck::kNoSignature:
      return "the release has no readable signature (Manifest.sig)";
    case ManifestCheck::kBadSignature:
      return "the Manifest's signature is not valid for the trusted key";
    case ManifestCheck::kBadManifest:
      return "the signed Manifest is malformed";
    case ManifestCheck::kVersionListChanged:
      return "VerComp.dat does not match the signed Manifest";
    case ManifestCheck::kKeyFileChanged:
      return "Ver does not match the signed Manifest";
  }
  return "unknown manifest check result";
}

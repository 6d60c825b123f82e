#include "signing/manifest_check.h"

#include <cstdint>
#include <vector>

#include "platform/platform.h"
#include "platform/bounded_file.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/trusted_keys.h"
#include "signing/sha256.h"

namespace {

std::string Child(const std::string& dir, const char* name) {
  if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) return dir + name;
  return dir + plat::kPathSeparator + name;
}

}  // namespace

bool MatchesListedFile(const std::string& path, const std::string& sha256, uint64_t size,
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

ReleaseFiles PatchDirReleaseFiles(const std::string& patchDir) {
  ReleaseFiles files;
  files.manifest = Child(patchDir, kManifestName);
  files.signature = Child(patchDir, kManifestSignatureName);
  files.versionList = Child(patchDir, kVersionListName);
  files.keyFile = Child(patchDir, kListKeyName);
  return files;
}

ManifestCheck CheckSignedManifest(const std::string& manifestFile, const std::string& signatureFile,
                                  const std::string& publicKeyFile, ReleaseManifest* manifest,
                                  std::string* detail) {
  detail->clear();
  std::vector<Ed25519PublicKey> keys;
  if (!ReadTrustedKeysFile(publicKeyFile.c_str(), &keys)) {
    *detail = publicKeyFile;
    return ManifestCheck::kBadPublicKey;
  }
  std::string text;
  if (!plat::ReadBoundedFile(manifestFile.c_str(), kManifestSizeLimit, &text)) {
    *detail = manifestFile;
    return ManifestCheck::kNoManifest;
  }
  Ed25519Signature signature;
  if (!ReadSignatureFile(signatureFile.c_str(), &signature)) {
    *detail = signatureFile;
    return ManifestCheck::kNoSignature;
  }
  // Nothing of the manifest is believed, or even parsed, before this.
  if (!VerifyByAnyKey(keys, text, signature)) {
    *detail = manifestFile;
    return ManifestCheck::kBadSignature;
  }
  ReleaseManifest parsed;
  if (!ParseManifest(text, &parsed, detail)) return ManifestCheck::kBadManifest;
  *manifest = std::move(parsed);
  return ManifestCheck::kVerified;
}

ManifestCheck CheckSignedRelease(const ReleaseFiles& files, const std::string& publicKeyFile,
                                 ReleaseManifest* manifest, std::string* detail) {
  ManifestCheck result =
      CheckSignedManifest(files.manifest, files.signature, publicKeyFile, manifest, detail);
  if (result != ManifestCheck::kVerified) return result;
  if (!MatchesListedFile(files.versionList, manifest->verCompSha256, manifest->verCompSize,
                         detail)) {
    return ManifestCheck::kVersionListChanged;
  }
  if (!MatchesListedFile(files.keyFile, manifest->verSha256, manifest->verSize, detail)) {
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

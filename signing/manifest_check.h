// Checks a release against its signed manifest: the signature over the
// Manifest's bytes with a trusted public key first, then the manifest's
// form, then the compressed version list and key file against it.
#ifndef FILEDIST_SIGNING_MANIFEST_CHECK_H
#define FILEDIST_SIGNING_MANIFEST_CHECK_H

#include <cstdint>
#include <string>

#include "protocol/release_manifest.h"

enum class ManifestCheck {
  kVerified,            // signature good, VerComp.dat and Ver as listed
  kBadPublicKey,        // the trusted key file is missing or not a public key
  kNoManifest,          // Manifest missing, unreadable or too large
  kNoSignature,         // Manifest.sig missing, unreadable or not a signature file
  kBadSignature,        // the signature is not the trusted key's over Manifest
  kBadManifest,         // signed, but not a well-formed manifest
  kVersionListChanged,  // VerComp.dat missing or not the one listed
  kKeyFileChanged,      // Ver missing or not the one listed
};

// Where the pieces of one release lie (a patch directory, or a client's
// staging folder holding what it fetched).
struct ReleaseFiles {
  std::string manifest;
  std::string signature;
  std::string versionList;  // the compressed VerComp.dat
  std::string keyFile;      // the compressed Ver
};

// The four files of the patch directory patchDir.
ReleaseFiles PatchDirReleaseFiles(const std::string& patchDir);

// The first half of the checks: the key, the manifest, its signature and
// its form; *manifest is filled only when they hold. A client runs this
// before it fetches anything else.
ManifestCheck CheckSignedManifest(const std::string& manifestFile, const std::string& signatureFile,
                                  const std::string& publicKeyFile, ReleaseManifest* manifest,
                                  std::string* detail);

// True when the file at path has the listed SHA-256 digest (hexadecimal)
// and size; otherwise *detail says what it has instead.
bool MatchesListedFile(const std::string& path, const std::string& sha256, uint64_t size,
                       std::string* detail);

// Runs every check in the order of the enumeration and stops at the first
// that fails. *manifest receives the manifest once its signature holds;
// *detail says more about a failure where there is more to say.
ManifestCheck CheckSignedRelease(const ReleaseFiles& files, const std::string& publicKeyFile,
                                 ReleaseManifest* manifest, std::string* detail);

// One line for a user or a log: what failed.
const char* DescribeManifestCheck(ManifestCheck result);

#endif  // FILEDIST_SIGNING_MANIFEST_CHECK_H

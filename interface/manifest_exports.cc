// VerifyReleaseManifest: a host's check of a signed release.
#include <string>

#include "common.h"
#include "log/logger.h"
#include "signing/manifest_check.h"

extern "C" COMMON_API int COMMON_CALL VerifyReleaseManifest(const char* patchDir,
                                                            const char* publicKeyFile) {
  if (patchDir == nullptr || publicKeyFile == nullptr || *patchDir == '\0') return 0;
  ReleaseManifest manifest;
  std::string detail;
  ManifestCheck result =
      CheckSignedRelease(PatchDirReleaseFiles(patchDir), publicKeyFile, &manifest, &detail);
  if (result != ManifestCheck::kVerified) {
    LogError() << DescribeManifestCheck(result) << (detail.empty() ? "" : ": ") << detail
               << " in [VerifyReleaseManifest]";
    return 0;
  }
  LogInfo() << "Release [" << patchDir << "] verified, sequence " << manifest.sequence;
  return 1;
}

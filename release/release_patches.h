// Release stage after the Manifest: binary patches from the files of the
// last few releases in the release folder to this release's files, and the
// patch index that describes them (protocol/patch_index.h).
//
// For every released file, each distinct earlier key its path has among the
// given releases (other than its own key now) gets a patch straight from
// that content to the new one; a client that is several releases behind
// patches in one step. A patch is kept only where it is at most nine tenths
// of the file's compressed size: below that it saves too little to be worth
// a second request.
//
// Memory: the old and the new file whole, plus what delta::MakePatch takes
// beside them (delta::PatchMakeMemory: about 8 bytes per old byte in all for two
// files of like size). A process with 32-bit pointers
// (the Windows build) skips a file whose patch would not fit
// delta::kSmallAddressSpacePatchBudget, with a warning naming it; every
// target skips files above delta::kMaxPatchSourceSize.
#ifndef FILEDIST_RELEASE_RELEASE_PATCHES_H
#define FILEDIST_RELEASE_RELEASE_PATCHES_H

#include <cstddef>
#include <vector>

#include "release/earlier_release.h"
#include "version/file_version.h"

// How many earlier releases a build makes patches from unless told.
constexpr int kDefaultPatchWindow = 3;

// Writes the patches of the release version has just made (its patch
// directory holds the compressed tree and the Manifest) from the releases
// in earlier, newest first, and the index beside the Manifest. True also
// when no patch was worth keeping (no index is then written); false, with
// an error logged, when the patch directory could not be written: the
// release is then not whole, as a failed stage leaves it.
bool WriteReleasePatches(const CFileVersion& version, const std::vector<EarlierRelease>& earlier);

#endif  // FILEDIST_RELEASE_RELEASE_PATCHES_H

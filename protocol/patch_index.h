// The patch index of a patch directory ("PatchIndex", signed into
// "PatchIndex.sig" like the Manifest): the binary patches a release offers
// from files of earlier releases to its own. It stands beside the Manifest
// rather than in it, so that clients that know nothing of patches read the
// Manifest they always read and fetch whole files. Plain text, one record
// per line, every line ending in a line feed, the same bytes on every
// system:
//
//   filedist-patches 1
//   manifest SHA256 SIZE     the Manifest of the same patch directory: an
//                            index goes with that Manifest only
//   patch OLDKEY OLDSHA256 OLDSIZE PATCHSHA256 PATCHSIZE PATCHPATH PATH
//                            one per patch: key (MD5), SHA-256 and size of
//                            the earlier content it starts from; SHA-256
//                            and size of the patch file; PATCHPATH where it
//                            lies in the patch directory and PATH the
//                            released file it makes (the Manifest gives
//                            that file's SHA-256 and size), both written as
//                            the version list writes paths; PATCHPATH holds
//                            no space
//   end COUNT                the number of patch lines
//
// SHA256 is 64 and a key 32 lowercase hexadecimal digits; numbers are
// decimal without sign or leading zeros. Lines are sorted by PATH, then by
// OLDKEY; no pair of PATH and OLDKEY comes twice.
#ifndef FILEDIST_PROTOCOL_PATCH_INDEX_H
#define FILEDIST_PROTOCOL_PATCH_INDEX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct PatchEntry {
  std::string oldKey;
  std::string oldSha256;
  uint64_t oldSize = 0;
  std::string patchSha256;
  uint64_t patchSize = 0;
  std::string patchPath;   // ".\Patches\..."
  std::string resultPath;  // ".\dir\name", as the version list has it
};

struct PatchIndex {
  std::string manifestSha256;
  uint64_t manifestSize = 0;
  std::vector<PatchEntry> patches;
};

// The names in a patch directory: the index, its signature and the folder
// the build puts the patch files in.
extern const char kPatchIndexName[];
extern const char kPatchIndexSignatureName[];
extern const char kPatchFolderName[];

// An index of far more patches than a release of a million files has
// stays below this; a reader refuses anything larger unread.
constexpr size_t kPatchIndexSizeLimit = size_t{1} << 28;

// The text of index, whose entries the caller has sorted.
std::string FormatPatchIndex(const PatchIndex& index);

// Reads text strictly: the lines above in that order, every field well
// formed, paths relative and free of "..", sorted, nothing after the end
// line. False with the first fault (and its line) in *error.
bool ParsePatchIndex(const std::string& text, PatchIndex* index, std::string* error);

#endif  // FILEDIST_PROTOCOL_PATCH_INDEX_H

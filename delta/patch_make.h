// Making a binary patch from one version of a file to the next, at release
// time. The format is this project's own (docs/patch_format.md): bsdiff-
// style instructions found with a suffix array of the old file, their
// streams deflated by the engine's fast deflate.
//
// Memory: both files are held whole by the caller; making a patch adds the
// suffix array (4 bytes per old byte) and its working memory (at most about
// 2 bytes per old byte), then the patch. PatchMakeMemory() says how much at most, so that a caller with a
// small address space (the 32-bit Windows build) skips a file rather than
// failing on it. Time is linear in the old file for the suffix array and
// about n log n in the new one for the matching.
//
// Threads: no shared state; patches may be made on several threads at
// once, each with its own buffers.
#ifndef FILEDIST_DELTA_PATCH_MAKE_H
#define FILEDIST_DELTA_PATCH_MAKE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace delta {

// The largest old or new file a patch is made for: the suffix array's
// positions are 32-bit on every target.
constexpr uint64_t kMaxPatchSourceSize = 0x7ffffffe;

// A budget for the memory of making one patch that a 32-bit process can
// count on (its address space is 2 GiB, shared with the rest of the
// program). Above it, the Windows build skips the file: with old and new
// files of like size, files above about 94 MiB.
constexpr uint64_t kSmallAddressSpacePatchBudget = 768ull << 20;

// Bytes of memory MakePatch takes at most for files of these sizes,
// counting the two files themselves: about 8.1 times the old file's size
// for files of like size (6 to 7 times in practice).
uint64_t PatchMakeMemory(uint64_t old_size, uint64_t new_size);

// Whether MakePatch can be asked for files of these sizes in this process:
// within kMaxPatchSourceSize, and where pointers are 32-bit, within
// kSmallAddressSpacePatchBudget.
bool PatchFitsThisProcess(uint64_t old_size, uint64_t new_size);

// Makes the patch that turns old_data[0, old_size) into new_data[0,
// new_size), into *patch (replaced). Either pointer may be null when its
// size is 0. The same inputs give the same bytes on every target and
// thread. False with *error set (and *patch unspecified) when a file is
// above kMaxPatchSourceSize or memory runs out.
bool MakePatch(const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size,
               std::vector<uint8_t>* patch, std::string* error);

}  // namespace delta

#endif  // FILEDIST_DELTA_PATCH_MAKE_H

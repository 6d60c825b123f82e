#include "delta/patch_make.h"

#include <memory>
#include <new>

#include "delta/match_scan.h"
#include "delta/patch_format.h"
#include "delta/patch_writer.h"
#include "delta/suffix_array.h"

namespace delta {

uint64_t PatchMakeMemory(uint64_t old_size, uint64_t new_size) {
  // The files and the suffix array throughout; beside them first the
  // sorting's working memory, then what the matching adds: the search's
  // index (at most half the old file), the block streams, the patch (at
  // most the new file plus a little per block) and deflate's buffers, made
  // at the first block.
  // After the matching the suffix array is freed, so writing the last
  // block needs less than either.
  const uint64_t files = old_size + new_size;
  const uint64_t suffix_array = 4 * old_size;
  const uint64_t sorting = SuffixArrayScratchBytes(old_size);
  const uint64_t deflate = 4u << 20;
  const uint64_t index = SuffixSearch::IndexBytes(static_cast<int64_t>(old_size));
  const uint64_t matching =
      index + 4 * uint64_t{kMaxBlockStreamSize} + new_size + new_size / 64 + 4096 + deflate;
  return files + suffix_array + (sorting > matching ? sorting : matching);
}

bool PatchFitsThisProcess(uint64_t old_size, uint64_t new_size) {
  if (old_size > kMaxPatchSourceSize || new_size > kMaxPatchSourceSize) return false;
  if (sizeof(void*) < 8) {
    return PatchMakeMemory(old_size, new_size) <= kSmallAddressSpacePatchBudget;
  }
  return true;
}

bool MakePatch(const uint8_t* old_data, size_t old_size, const uint8_t* new_data, size_t new_size,
               std::vector<uint8_t>* patch, std::string* error) {
  if (old_size > kMaxPatchSourceSize || new_size > kMaxPatchSourceSize) {
    *error = "file too large for a patch";
    return false;
  }
  static const uint8_t kNothing = 0;
  if (old_data == nullptr) old_data = &kNothing;
  if (new_data == nullptr) new_data = &kNothing;
  try {
    PatchWriter writer(old_data, old_size, new_data, new_size, patch);
    {
      std::unique_ptr<int32_t[]> sa(new int32_t[old_size ? old_size : 1]);
      if (!BuildSuffixArray(old_data, old_size, sa.get())) {
        *error = "out of memory sorting the old file";
        return false;
      }
      SuffixSearch search(old_data, static_cast<int64_t>(old_size), sa.get());
      ScanMatches(old_data, static_cast<int64_t>(old_size), search, new_data,
                  static_cast<int64_t>(new_size), &writer);
    }
    // The suffix array and its index are gone before the last block is
    // deflated: for a file whose streams fit one block (most text), the
    // deflate's buffers never sit beside them.
    writer.Finish();
  } catch (const std::bad_alloc&) {
    *error = "out of memory making a patch";
    return false;
  }
  return true;
}

}  // namespace delta

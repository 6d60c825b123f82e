// The patch reader on any input, and the patch maker on any pair of files.
//
// Input: a mode byte, a 16-bit split, then bytes.
//   mode even: old file = the bytes before the split, patch = the rest. The
//     reader must refuse it or make exactly the size its header promised,
//     never writing more than that, and never crash.
//   mode odd: old and new file = the two sides of the split. The patch made
//     from them must give the new file back; the same patch with one byte
//     changed (where and how chosen by the input) must be refused or still
//     give the new file.
//
// With FUZZ_PATCH_SEEDS set to a directory, each odd-mode input also writes
// the even-mode input of its patch there (fuzz/make_seeds.sh makes the
// reader's seeds so: real patches, which mutations then damage).
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "delta/memory_streams.h"
#include "delta/patch_apply.h"
#include "delta/patch_format.h"
#include "delta/patch_make.h"
#include "fuzz/fuzz_support.h"

namespace {

struct Result {
  bool ok;
  std::vector<uint8_t> out;
};

Result Apply(const uint8_t* old_data, size_t old_size, const uint8_t* patch, size_t patch_size,
             uint64_t expected) {
  delta::MemoryPatchInput in(patch, patch_size);
  delta::MemoryOldInput old(old_data, old_size);
  Result r;
  delta::VectorNewOutput out(&r.out);
  std::string error;
  r.ok = delta::ApplyPatch(&in, &old, expected, &out, &error);
  FUZZ_CHECK(r.ok || !error.empty());
  FUZZ_CHECK(r.out.size() <= expected);
  FUZZ_CHECK(!r.ok || r.out.size() == expected);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const bool round_trip = data[0] & 1;
  data += 3;
  size -= 3;
  const size_t split = (data[-2] | (data[-1] << 8)) % (size + 1);
  const uint8_t* first = data;
  const uint8_t* second = data + split;
  const size_t second_size = size - split;

  if (!round_trip) {
    // The size the reader is told to expect: the header's, when there is
    // one and it is small, so that the instructions are reached.
    uint64_t expected = 0;
    if (second_size >= delta::kPatchHeaderSize) {
      delta::PatchHeader h;
      delta::DecodeHeader(second, &h);
      if (h.new_size <= (1u << 20)) expected = h.new_size;
    }
    Apply(first, split, second, second_size, expected);
    return 0;
  }

  std::vector<uint8_t> patch;
  std::string error;
  FUZZ_CHECK(delta::MakePatch(first, split, second, second_size, &patch, &error));
  const std::vector<uint8_t> wanted(second, second + second_size);
  const Result good = Apply(first, split, patch.data(), patch.size(), second_size);
  FUZZ_CHECK(good.ok && good.out == wanted);
  if (const char* seeds = std::getenv("FUZZ_PATCH_SEEDS")) {
    if (split <= 0xffff) {
      std::vector<uint8_t> seed = {0, static_cast<uint8_t>(split),
                                   static_cast<uint8_t>(split >> 8)};
      seed.insert(seed.end(), first, first + split);
      seed.insert(seed.end(), patch.begin(), patch.end());
      const std::string name =
          std::string(seeds) + "/patch_" +
          std::to_string(std::hash<std::string>()(std::string(seed.begin(), seed.end())));
      fuzz::WriteBytes(name, seed.data(), seed.size());
    }
  }

  // One byte changed, where the file's first bytes say.
  const size_t at = (size > 0 ? data[0] | (size > 1 ? data[1] << 8 : 0) : 0) % patch.size();
  const uint8_t flip = static_cast<uint8_t>((size > 2 ? data[2] : 0) | 1);
  patch[at] ^= flip;
  const Result bad = Apply(first, split, patch.data(), patch.size(), second_size);
  FUZZ_CHECK(!bad.ok || bad.out == wanted);
  return 0;
}

// The suffix sort on any input: the result must be a permutation of the
// positions in which every suffix sorts after the one before it.
#include <cstdint>
#include <cstring>
#include <vector>

#include "delta/suffix_array.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<int32_t> sa(size);
  FUZZ_CHECK(delta::BuildSuffixArray(data, size, sa.data()));
  std::vector<bool> seen(size);
  for (int32_t p : sa) {
    FUZZ_CHECK(p >= 0 && static_cast<size_t>(p) < size && !seen[p]);
    seen[p] = true;
  }
  for (size_t i = 1; i < size; ++i) {
    const size_t a = sa[i - 1], b = sa[i];
    const size_t n = size - (a > b ? a : b);
    const int cmp = std::memcmp(data + a, data + b, n);
    // Equal over the shorter one: the shorter (the later start) sorts first.
    FUZZ_CHECK(cmp < 0 || (cmp == 0 && a > b));
  }
  return 0;
}

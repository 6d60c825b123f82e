// The suffix array of a byte string, built with SA-IS (induced sorting of
// the leftmost S-type suffixes, recursing on the string of their names):
// linear time, and beyond the output a type bit per position and the
// buckets, which below the top level go in a free part of the output when
// they fit. Positions are 32-bit on every target, so a patch made on 32-bit
// Windows and on 64-bit Linux sees the same array.
#ifndef FILEDIST_DELTA_SUFFIX_ARRAY_H
#define FILEDIST_DELTA_SUFFIX_ARRAY_H

#include <cstddef>
#include <cstdint>

namespace delta {

// The largest string BuildSuffixArray sorts.
constexpr size_t kMaxSuffixArrayInput = 0x7fffffff - 1;

// Fills sa[0, size) with the starting positions of the suffixes of
// text[0, size) in lexicographic order (a suffix that is a prefix of
// another sorts first). Returns false, leaving sa unspecified, when size is
// above kMaxSuffixArrayInput or the working memory cannot be had.
// Thread-safe: it keeps no state outside its arguments.
bool BuildSuffixArray(const uint8_t* text, size_t size, int32_t* sa);

// Working memory BuildSuffixArray may take beyond text and sa, at most.
uint64_t SuffixArrayScratchBytes(uint64_t size);

}  // namespace delta

#endif  // FILEDIST_DELTA_SUFFIX_ARRAY_H

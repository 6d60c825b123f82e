#include "delta/suffix_array.h"

#include <algorithm>
#include <new>
#include <vector>

namespace delta {
namespace {

// Every string here ends with a virtual sentinel, smaller than any symbol
// and found only at position n: suffix n sorts first and is never stored.
// S-type: a suffix smaller than the one after it; L-type: larger. The last
// real suffix is L (it is larger than the sentinel).
constexpr uint8_t kL = 0;
constexpr uint8_t kS = 1;

template <typename C>
void ClassifyTypes(const C* s, int32_t n, uint8_t* t) {
  if (n == 0) return;
  t[n - 1] = kL;
  for (int32_t i = n - 2; i >= 0; --i) {
    t[i] = (s[i] < s[i + 1] || (s[i] == s[i + 1] && t[i + 1] == kS)) ? kS : kL;
  }
}

inline bool IsLms(const uint8_t* t, int32_t i) {
  return i > 0 && t[i] == kS && t[i - 1] == kL;
}

void Clear(int32_t* from, int32_t* to) {
  for (; from < to; ++from) *from = -1;
}

template <typename C>
void CountSymbols(const C* s, int32_t n, int32_t k, int32_t* counts) {
  std::fill(counts, counts + k, 0);
  for (int32_t i = 0; i < n; ++i) ++counts[s[i]];
}

// bucket[c] = first slot of symbol c's bucket (heads) or one past its last
// slot (ends).
void BucketHeads(const int32_t* counts, int32_t k, int32_t* bucket) {
  int32_t sum = 0;
  for (int32_t c = 0; c < k; ++c) {
    bucket[c] = sum;
    sum += counts[c];
  }
}
void BucketEnds(const int32_t* counts, int32_t k, int32_t* bucket) {
  int32_t sum = 0;
  for (int32_t c = 0; c < k; ++c) {
    sum += counts[c];
    bucket[c] = sum;
  }
}

// From the LMS suffixes placed at the ends of their buckets, sorts the
// L-type suffixes (left to right) and then all S-type ones (right to left).
template <typename C>
void InduceSort(const C* s, int32_t n, int32_t k, const uint8_t* t, const int32_t* counts,
                int32_t* bucket, int32_t* sa) {
  BucketHeads(counts, k, bucket);
  // The sentinel's suffix comes first: the one before it, n - 1, is L.
  sa[bucket[s[n - 1]]++] = n - 1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && t[j] == kL) sa[bucket[s[j]]++] = j;
  }
  BucketEnds(counts, k, bucket);
  for (int32_t i = n - 1; i >= 0; --i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && t[j] == kS) sa[--bucket[s[j]]] = j;
  }
}

template <typename C>
bool SaIs(const C* s, int32_t n, int32_t k, int32_t* sa);

// Whether the LMS substrings at a and b (each running to the next LMS
// position, both ends included) are equal in symbols and types.
template <typename C>
bool SameLmsSubstring(const C* s, int32_t n, const uint8_t* t, int32_t a, int32_t b) {
  for (int32_t d = 0;; ++d) {
    if (a + d == n || b + d == n) return false;  // the sentinel is unique
    if (s[a + d] != s[b + d] || t[a + d] != t[b + d]) return false;
    if (d > 0 && IsLms(t, a + d)) return true;  // types agree: b + d is LMS too
  }
}

template <typename C>
bool SaIs(const C* s, int32_t n, int32_t k, int32_t* sa) {
  if (n == 0) return true;
  if (n == 1) {
    sa[0] = 0;
    return true;
  }
  std::vector<uint8_t> types;
  std::vector<int32_t> counts, bucket;
  try {
    types.resize(n);
    counts.resize(k);
    bucket.resize(k);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* t = types.data();
  ClassifyTypes(s, n, t);
  CountSymbols(s, n, k, counts.data());

  // 1. Sort the LMS substrings: LMS positions at their buckets' ends, then
  // one induced sort.
  Clear(sa, sa + n);
  BucketEnds(counts.data(), k, bucket.data());
  for (int32_t i = n - 1; i >= 1; --i) {
    if (IsLms(t, i)) sa[--bucket[s[i]]] = i;
  }
  InduceSort(s, n, k, t, counts.data(), bucket.data(), sa);

  // 2. Gather the sorted LMS positions at the front and name them: equal
  // substrings get one name. Names go to sa[n1 + pos / 2] (LMS positions
  // are at least two apart), then are packed to the end of sa in position
  // order: the reduced string.
  int32_t n1 = 0;
  for (int32_t i = 0; i < n; ++i) {
    if (IsLms(t, sa[i])) sa[n1++] = sa[i];
  }
  Clear(sa + n1, sa + n);
  int32_t names = 0;
  int32_t previous = -1;
  for (int32_t i = 0; i < n1; ++i) {
    const int32_t pos = sa[i];
    if (previous < 0 || !SameLmsSubstring(s, n, t, previous, pos)) ++names;
    previous = pos;
    sa[n1 + pos / 2] = names - 1;
  }
  for (int32_t i = n - 1, j = n - 1; i >= n1; --i) {
    if (sa[i] >= 0) sa[j--] = sa[i];
  }

  // 3. Sort the LMS suffixes: by recursion while names repeat, else the
  // names are the order.
  int32_t* s1 = sa + n - n1;
  if (names < n1) {
    // The types and buckets are remade afterwards: the recursion should
    // not have to share memory with them (so at most one level's working
    // memory is held at a time).
    std::vector<uint8_t>().swap(types);
    std::vector<int32_t>().swap(counts);
    std::vector<int32_t>().swap(bucket);
    if (!SaIs(s1, n1, names, sa)) return false;
    try {
      types.resize(n);
      counts.resize(k);
      bucket.resize(k);
    } catch (const std::bad_alloc&) {
      return false;
    }
    t = types.data();
    ClassifyTypes(s, n, t);
    CountSymbols(s, n, k, counts.data());
  } else {
    for (int32_t i = 0; i < n1; ++i) sa[s1[i]] = i;
  }
  // Reduced-string indices back to positions in s.
  for (int32_t i = 1, j = 0; i < n; ++i) {
    if (IsLms(t, i)) s1[j++] = i;
  }
  for (int32_t i = 0; i < n1; ++i) sa[i] = s1[sa[i]];

  // 4. The sorted LMS suffixes at their buckets' ends, largest first, then
  // the final induced sort.
  Clear(sa + n1, sa + n);
  BucketEnds(counts.data(), k, bucket.data());
  for (int32_t i = n1 - 1; i >= 0; --i) {
    const int32_t pos = sa[i];
    sa[i] = -1;
    sa[--bucket[s[pos]]] = pos;
  }
  InduceSort(s, n, k, t, counts.data(), bucket.data(), sa);
  return true;
}

}  // namespace

bool BuildSuffixArray(const uint8_t* text, size_t size, int32_t* sa) {
  if (size > kMaxSuffixArrayInput) return false;
  return SaIs(text, static_cast<int32_t>(size), 256, sa);
}

uint64_t SuffixArrayScratchBytes(uint64_t size) {
  // One level's working memory at a time: at level 0 a type byte per
  // position; below, for at most half as many positions, a type byte and
  // two 4-byte bucket entries per name (fewer names than positions).
  // Level 1 is the most: 9 bytes for each of size / 2 positions.
  return (size / 2) * 9 + size % 2 + (8u << 10);
}

}  // namespace delta

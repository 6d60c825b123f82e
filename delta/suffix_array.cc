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

// The types, a bit per position (S = 1): an eighth of the text's size at
// the top level, where a byte each would be as much as the text itself.
class Types {
 public:
  bool Allocate(int32_t n) {
    try {
      words_.assign((static_cast<size_t>(n) + 31) / 32, 0);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  void Release() { std::vector<uint32_t>().swap(words_); }
  uint8_t operator[](int32_t i) const { return (words_[i >> 5] >> (i & 31)) & 1; }
  void SetS(int32_t i) { words_[i >> 5] |= 1u << (i & 31); }

 private:
  std::vector<uint32_t> words_;
};

template <typename C>
void ClassifyTypes(const C* s, int32_t n, Types* t) {
  if (n == 0) return;
  // n - 1 is L (the bits start cleared).
  uint8_t next = kL;
  for (int32_t i = n - 2; i >= 0; --i) {
    if (s[i] < s[i + 1] || (s[i] == s[i + 1] && next == kS)) {
      t->SetS(i);
      next = kS;
    } else {
      next = kL;
    }
  }
}

inline bool IsLms(const Types& t, int32_t i) { return i > 0 && t[i] == kS && t[i - 1] == kL; }

void Clear(int32_t* from, int32_t* to) {
  for (; from < to; ++from) *from = -1;
}

// The buckets of the symbols 0..k-1 (bucket[c]: first slot of symbol c's
// bucket, or one past its last). The counts are kept for a small alphabet;
// for a large one (the names below the top level, up to one per position)
// they are counted again from the string each time, and the bucket array
// goes in the part of sa the level leaves free when it is large enough:
// then a level takes a bit per position beyond sa, rather than nine bytes.
class Buckets {
 public:
  template <typename C>
  bool Prepare(const C* s, int32_t n, int32_t k, int32_t* spare, int32_t spare_size) {
    k_ = k;
    try {
      if (k <= kKeptCounts) {
        counts_.assign(k, 0);
        for (int32_t i = 0; i < n; ++i) ++counts_[s[i]];
      }
      if (k <= spare_size) {
        bucket_ = spare;
      } else {
        own_.resize(k);
        bucket_ = own_.data();
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  void Release() {
    std::vector<int32_t>().swap(counts_);
    std::vector<int32_t>().swap(own_);
    bucket_ = nullptr;
  }
  template <typename C>
  int32_t* Heads(const C* s, int32_t n) {
    Count(s, n);
    int32_t sum = 0;
    for (int32_t c = 0; c < k_; ++c) {
      const int32_t count = Counted(c);
      bucket_[c] = sum;
      sum += count;
    }
    return bucket_;
  }
  template <typename C>
  int32_t* Ends(const C* s, int32_t n) {
    Count(s, n);
    int32_t sum = 0;
    for (int32_t c = 0; c < k_; ++c) {
      sum += Counted(c);
      bucket_[c] = sum;
    }
    return bucket_;
  }

 private:
  static constexpr int32_t kKeptCounts = 1 << 16;
  // Without kept counts, the counts are made in bucket_ itself.
  template <typename C>
  void Count(const C* s, int32_t n) {
    if (!counts_.empty() || k_ == 0) return;
    std::fill(bucket_, bucket_ + k_, 0);
    for (int32_t i = 0; i < n; ++i) ++bucket_[s[i]];
  }
  int32_t Counted(int32_t c) const { return counts_.empty() ? bucket_[c] : counts_[c]; }

  int32_t k_ = 0;
  std::vector<int32_t> counts_;
  std::vector<int32_t> own_;
  int32_t* bucket_ = nullptr;
};

// From the LMS suffixes placed at the ends of their buckets, sorts the
// L-type suffixes (left to right) and then all S-type ones (right to left).
template <typename C>
void InduceSort(const C* s, int32_t n, const Types& t, Buckets* buckets, int32_t* sa) {
  int32_t* bucket = buckets->Heads(s, n);
  // The sentinel's suffix comes first: the one before it, n - 1, is L.
  sa[bucket[s[n - 1]]++] = n - 1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && t[j] == kL) sa[bucket[s[j]]++] = j;
  }
  bucket = buckets->Ends(s, n);
  for (int32_t i = n - 1; i >= 0; --i) {
    const int32_t j = sa[i] - 1;
    if (j >= 0 && t[j] == kS) sa[--bucket[s[j]]] = j;
  }
}

// Whether the LMS substrings at a and b (each running to the next LMS
// position, both ends included) are equal in symbols and types.
template <typename C>
bool SameLmsSubstring(const C* s, int32_t n, const Types& t, int32_t a, int32_t b) {
  for (int32_t d = 0;; ++d) {
    if (a + d == n || b + d == n) return false;  // the sentinel is unique
    if (s[a + d] != s[b + d] || t[a + d] != t[b + d]) return false;
    if (d > 0 && IsLms(t, a + d)) return true;  // types agree: b + d is LMS too
  }
}

// Sorts s[0, n) over the alphabet 0..k-1 into sa[0, n). spare[0,
// spare_size) is memory the caller does not need meanwhile (inside its own
// sa), used for the buckets when they fit.
template <typename C>
bool SaIs(const C* s, int32_t n, int32_t k, int32_t* sa, int32_t* spare, int32_t spare_size) {
  if (n == 0) return true;
  if (n == 1) {
    sa[0] = 0;
    return true;
  }
  Types t;
  Buckets buckets;
  if (!t.Allocate(n) || !buckets.Prepare(s, n, k, spare, spare_size)) return false;
  ClassifyTypes(s, n, &t);

  // 1. Sort the LMS substrings: LMS positions at their buckets' ends, then
  // one induced sort.
  Clear(sa, sa + n);
  int32_t* bucket = buckets.Ends(s, n);
  for (int32_t i = n - 1; i >= 1; --i) {
    if (IsLms(t, i)) sa[--bucket[s[i]]] = i;
  }
  InduceSort(s, n, t, &buckets, sa);

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
    // memory is held at a time). It sorts into sa[0, n1) from s1 at the
    // end of sa; what lies between is free for its buckets.
    t.Release();
    buckets.Release();
    if (!SaIs(s1, n1, names, sa, sa + n1, n - 2 * n1)) return false;
    if (!t.Allocate(n) || !buckets.Prepare(s, n, k, spare, spare_size)) return false;
    ClassifyTypes(s, n, &t);
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
  bucket = buckets.Ends(s, n);
  for (int32_t i = n1 - 1; i >= 0; --i) {
    const int32_t pos = sa[i];
    sa[i] = -1;
    sa[--bucket[s[pos]]] = pos;
  }
  InduceSort(s, n, t, &buckets, sa);
  return true;
}

}  // namespace

bool BuildSuffixArray(const uint8_t* text, size_t size, int32_t* sa) {
  if (size > kMaxSuffixArrayInput) return false;
  return SaIs(text, static_cast<int32_t>(size), 256, sa, nullptr, 0);
}

uint64_t SuffixArrayScratchBytes(uint64_t size) {
  // One level's working memory at a time: at the top a type bit per
  // position; below, for at most half as many positions, a type bit and at
  // worst a 4-byte bucket per name (fewer names than positions) when the
  // names do not fit in the part of sa the level above leaves free, and the
  // counts of up to 2^16 names kept beside them.
  return 2 * size + size / 16 + (1u << 20);
}

}  // namespace delta

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "delta/suffix_array.h"

namespace {

std::vector<int32_t> NaiveSuffixArray(const std::vector<uint8_t>& s) {
  std::vector<int32_t> sa(s.size());
  std::iota(sa.begin(), sa.end(), 0);
  std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
    return std::lexicographical_compare(s.begin() + a, s.end(), s.begin() + b, s.end());
  });
  return sa;
}

std::vector<int32_t> Build(const std::vector<uint8_t>& s) {
  std::vector<int32_t> sa(s.size() + 1, -7);
  EXPECT_TRUE(delta::BuildSuffixArray(s.data(), s.size(), sa.data()));
  EXPECT_EQ(sa[s.size()], -7) << "wrote past the array";
  sa.resize(s.size());
  return sa;
}

// xorshift32: every bit of it varies (an LCG's low bits repeat every 2^k
// values, which would make "random" text periodic).
uint32_t Next(uint32_t* state) {
  uint32_t x = *state ? *state : 0x9e3779b9u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x >> 7;
}

std::vector<uint8_t> Random(size_t n, uint32_t alphabet, uint32_t seed) {
  std::vector<uint8_t> s(n);
  for (auto& c : s) c = static_cast<uint8_t>(Next(&seed) % alphabet);
  return s;
}

std::vector<uint8_t> Repeat(const std::string& unit, size_t n) {
  std::vector<uint8_t> s;
  while (s.size() < n) s.push_back(static_cast<uint8_t>(unit[s.size() % unit.size()]));
  return s;
}

// Fibonacci words: the strings SA-IS recurses deepest on.
std::vector<uint8_t> Fibonacci(size_t n) {
  std::string a = "a", b = "ab";
  while (b.size() < n) {
    std::string c = b + a;
    a = b;
    b = c;
  }
  return std::vector<uint8_t>(b.begin(), b.begin() + n);
}

// Random bytes below 128 and at or above it in turn: every low byte starts
// an LMS suffix, so the reduced string is half as long as the text and
// leaves the sort no free room for its buckets, and its names (three
// random bytes each) are too many for kept counts.
std::vector<uint8_t> LowHigh(size_t n, uint32_t seed) {
  std::vector<uint8_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<uint8_t>(Next(&seed) % 128 + (i % 2) * 128);
  return s;
}

struct Case {
  const char* name;
  std::vector<uint8_t> text;
};

// Each case is a shape of input where an induced sort goes wrong in its own
// way: sentinel handling (tiny and single-symbol strings), equal LMS
// substrings needing recursion (periodic and Fibonacci), the full byte
// alphabet and a two-symbol one.
TEST(SuffixArray, MatchesNaiveSort) {
  std::vector<Case> cases = {
      {"empty", {}},
      {"one byte", {42}},
      {"two equal", {7, 7}},
      {"descending", {9, 8, 7, 6, 5, 4, 3, 2, 1, 0}},
      {"ascending", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"zeros", std::vector<uint8_t>(1000, 0)},
      {"all 0xff", std::vector<uint8_t>(777, 0xff)},
      {"abab", Repeat("ab", 1001)},
      {"period 7", Repeat("abcabda", 2000)},
      {"mississippi", Repeat("mississippi", 11)},
      {"fibonacci", Fibonacci(3000)},
      {"binary random", Random(3000, 2, 1)},
      {"ternary random", Random(3000, 3, 2)},
      {"bytes random", Random(3000, 256, 3)},
  };
  for (uint32_t seed = 10; seed < 60; ++seed) {
    cases.push_back({"small random", Random(seed % 37, 1 + seed % 4, seed)});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(Build(c.text), NaiveSuffixArray(c.text)) << c.name << " (" << c.text.size() << ")";
  }
}

// Larger inputs than a naive sort can take (of short common prefixes, so
// that comparing neighbours stays cheap): checked to be a permutation in
// which each suffix sorts strictly after the one before.
TEST(SuffixArray, LargeInputsAreSorted) {
  std::vector<Case> cases = {
      {"random bytes", Random(1 << 20, 256, 5)},
      {"random four symbols", Random(1 << 20, 4, 6)},
      // Names beyond the kept counts, buckets in the free part of sa.
      {"random bytes, many names", Random(1 << 19, 256, 7)},
      // Names beyond the kept counts, buckets of their own.
      {"low and high bytes in turn", LowHigh(1 << 20, 8)},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t>& s = c.text;
    const std::vector<int32_t> sa = Build(s);
    std::vector<bool> seen(s.size());
    for (int32_t p : sa) {
      ASSERT_TRUE(p >= 0 && static_cast<size_t>(p) < s.size() && !seen[p]) << c.name;
      seen[p] = true;
    }
    for (size_t i = 1; i < sa.size(); ++i) {
      const size_t a = sa[i - 1], b = sa[i];
      const size_t n = std::min(s.size() - a, s.size() - b);
      const int cmp = std::memcmp(s.data() + a, s.data() + b, n);
      ASSERT_TRUE(cmp < 0 || (cmp == 0 && s.size() - a < s.size() - b)) << c.name << " at " << i;
    }
  }
}

}  // namespace

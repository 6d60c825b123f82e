#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "delta/match_scan.h"
#include "delta/suffix_array.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Next(uint32_t* state) {
  uint32_t x = *state ? *state : 0x9e3779b9u;
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  *state = x;
  return x >> 7;
}

// The longest prefix of text found anywhere in old, by trying every place.
int64_t NaiveLongest(const Bytes& old, const Bytes& text) {
  int64_t best = 0;
  for (size_t p = 0; p < old.size(); ++p) {
    const int64_t limit = static_cast<int64_t>(std::min(old.size() - p, text.size()));
    best = std::max(best, delta::MatchLength(old.data() + p, text.data(), limit));
  }
  return best;
}

struct Case {
  const char* name;
  Bytes old;
  std::vector<Bytes> queries;
};

// Checks the length against every place in old and that *pos holds it. A
// length of one counts as none: the search starts from two bytes.
void Check(const Case& c) {
  std::vector<int32_t> sa(c.old.size() + 1);
  ASSERT_TRUE(delta::BuildSuffixArray(c.old.data(), c.old.size(), sa.data()));
  const delta::SuffixSearch search(c.old.data(), static_cast<int64_t>(c.old.size()), sa.data());
  for (const Bytes& q : c.queries) {
    int64_t pos = -1;
    const int64_t len = search.Longest(q.data(), static_cast<int64_t>(q.size()), &pos);
    int64_t want = NaiveLongest(c.old, q);
    if (want < 2) want = 0;
    ASSERT_EQ(len, want) << c.name << ", query of " << q.size();
    if (len == 0) continue;
    ASSERT_TRUE(pos >= 0 && static_cast<size_t>(pos) < c.old.size()) << c.name;
    EXPECT_EQ(delta::MatchLength(c.old.data() + pos, q.data(),
                                 std::min<int64_t>(c.old.size() - pos, q.size())),
              len)
        << c.name << ": the place given does not hold the match";
  }
}

// Queries cut from old (whole matches, some running into the file's end),
// mutated copies and random ones, of every short length.
std::vector<Bytes> Queries(const Bytes& old, uint32_t seed, int count) {
  std::vector<Bytes> out;
  for (int i = 0; i < count; ++i) {
    const size_t at = Next(&seed) % old.size();
    const size_t n = std::min<size_t>(old.size() - at, 1 + Next(&seed) % 300);
    Bytes q(old.begin() + at, old.begin() + at + n);
    if (i % 3 == 1 && n > 2) q[Next(&seed) % n] ^= 0x5a;
    if (i % 3 == 2) q.push_back(static_cast<uint8_t>(Next(&seed)));
    out.push_back(q);
  }
  for (size_t n = 0; n < 5; ++n)
    out.push_back(Bytes(old.end() - std::min(n, old.size()), old.end()));
  return out;
}

// Each case is a place where narrowing by a key goes wrong: a file small
// enough for two-byte keys and one large enough to key on the third byte
// too; a file ending in a byte that text continues with zeros (its
// one-byte suffix leads that key's run and matches only one byte); keys
// with no suffixes.
TEST(SuffixSearch, FindsTheLongestMatch) {
  uint32_t seed = 3;
  std::vector<Case> cases;
  {
    Bytes old(5000);
    for (auto& b : old) b = static_cast<uint8_t>(Next(&seed) % 4);
    cases.push_back({"small, two-byte keys", old, Queries(old, 1, 300)});
  }
  {
    // 2 MiB: some bits of the third byte are keyed.
    Bytes old(2 << 20);
    for (auto& b : old) b = static_cast<uint8_t>(Next(&seed) % 3 == 0 ? 0 : Next(&seed));
    ASSERT_GT(delta::SuffixSearch::ThirdByteBits(static_cast<int64_t>(old.size())), 0);
    cases.push_back({"large, three-byte keys", old, Queries(old, 2, 40)});
  }
  {
    Bytes old = {7, 0, 0, 9, 7, 0, 1, 2, 0, 7};
    cases.push_back({"ends in 7, text 7 0",
                     old,
                     {{7, 0}, {7, 0, 0}, {7, 0, 1, 2}, {7, 0, 5}, {7}, {7, 1}, {0, 7}, {0, 7, 0}}});
  }
  {
    Bytes old = {200, 0};
    cases.push_back({"two bytes", old, {{200, 0}, {200, 0, 0}, {200}, {0, 0}, {200, 1}}});
  }
  for (const Case& c : cases) Check(c);
}

}  // namespace

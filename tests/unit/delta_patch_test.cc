#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "delta/memory_streams.h"
#include "delta/patch_apply.h"
#include "delta/patch_format.h"
#include "delta/patch_make.h"
#include "delta/suffix_array.h"

namespace {

using Bytes = std::vector<uint8_t>;

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

Bytes Random(size_t n, uint32_t seed) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<uint8_t>(Next(&seed));
  return b;
}

// Something like machine code: a few hundred distinct "instructions" with
// 4-byte addresses in them.
Bytes CodeLike(size_t n, uint32_t seed) {
  Bytes b;
  uint32_t s = seed;
  while (b.size() < n) {
    const uint32_t op = Next(&s) % 300;
    b.push_back(static_cast<uint8_t>(op));
    b.push_back(static_cast<uint8_t>(op >> 3));
    const uint32_t address = 0x401000 + (Next(&s) % 4096) * 16;
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(address >> (8 * i)));
  }
  b.resize(n);
  return b;
}

// The same code with every address moved, as a relink moves them.
Bytes Relinked(Bytes b) {
  for (size_t i = 0; i + 6 <= b.size(); i += 6) {
    uint32_t a = 0;
    for (int k = 0; k < 4; ++k) a |= uint32_t{b[i + 2 + k]} << (8 * k);
    a += 0x40;
    for (int k = 0; k < 4; ++k) b[i + 2 + k] = static_cast<uint8_t>(a >> (8 * k));
  }
  return b;
}

Bytes Concat(const Bytes& a, const Bytes& b) {
  Bytes c = a;
  c.insert(c.end(), b.begin(), b.end());
  return c;
}

Bytes Make(const Bytes& old_data, const Bytes& new_data) {
  Bytes patch;
  std::string error;
  EXPECT_TRUE(delta::MakePatch(old_data.data(), old_data.size(), new_data.data(), new_data.size(),
                               &patch, &error))
      << error;
  return patch;
}

struct Applied {
  bool ok = false;
  std::string error;
  Bytes out;
};

Applied Apply(const Bytes& old_data, const Bytes& patch, uint64_t expected_size) {
  delta::MemoryPatchInput in(patch.data(), patch.size());
  delta::MemoryOldInput old(old_data.data(), old_data.size());
  Applied a;
  delta::VectorNewOutput out(&a.out);
  a.ok = delta::ApplyPatch(&in, &old, expected_size, &out, &a.error);
  return a;
}

struct Pair {
  const char* name;
  Bytes old_data;
  Bytes new_data;
  size_t max_patch;  // the patch should come to no more than this
};

std::vector<Pair> Pairs() {
  const Bytes r = Random(200000, 1);
  const Bytes code = CodeLike(300000, 2);
  Bytes edited = Random(4 << 20, 3);
  for (size_t at : {size_t{1000}, size_t{2} << 20, (size_t{4} << 20) - 100}) {
    for (int i = 0; i < 16; ++i) edited[at + i] ^= 0x5a;
  }
  Bytes shifted = r;
  shifted.insert(shifted.begin() + 70000, r.begin(), r.begin() + 5000);
  const Bytes sparse_old = Random(3 << 20, 4);
  Bytes sparse_new = sparse_old;
  for (size_t i = 0; i < sparse_new.size(); i += 16) ++sparse_new[i];
  return {
      {"both empty", {}, {}, 100},
      {"empty old", {}, r, r.size() + 1000},
      {"empty new", r, {}, 100},
      {"identical", r, r, 200},
      {"appended", r, Concat(r, Random(3000, 9)), 3300},
      {"truncated", r, Bytes(r.begin(), r.begin() + 150000), 200},
      {"cut at the front", r, Bytes(r.begin() + 777, r.end()), 200},
      {"inserted and shifted", r, shifted, 400},
      {"unrelated", r, Random(150000, 10), 151000},
      {"relinked code", code, Relinked(code), 40000},
      {"4 MiB with three edits", Random(4 << 20, 3), edited, 600},
      // Streams larger than a block: differences all through, or new bytes.
      {"one byte in 16 changed", sparse_old, sparse_new, 40000},
      {"3 MiB new", Random(100, 5), Random(3 << 20, 6), (3u << 20) + 10000},
      {"zeros to zeros", Bytes(1 << 20, 0), Bytes(3 << 20, 0), 300},
      {"period to period", Bytes(Random(1000, 7)), Concat(Random(1000, 7), Random(1000, 7)), 300},
  };
}

// Every pair round-trips, and the patch is about as small as the change.
TEST(DeltaPatch, RoundTrips) {
  for (const Pair& p : Pairs()) {
    const Bytes patch = Make(p.old_data, p.new_data);
    const Applied a = Apply(p.old_data, patch, p.new_data.size());
    ASSERT_TRUE(a.ok) << p.name << ": " << a.error;
    EXPECT_TRUE(a.out == p.new_data) << p.name;
    EXPECT_LE(patch.size(), p.max_patch) << p.name;
  }
}

TEST(DeltaPatch, SameBytesEveryTime) {
  const Bytes code = CodeLike(100000, 11);
  EXPECT_EQ(Make(code, Relinked(code)), Make(code, Relinked(code)));
}

// Releases made on Windows and on Linux carry the same patches, and a
// client reads the patches of any earlier build: the bytes of a patch are
// pinned here (this test runs on both targets). A change to them is a
// change of format.
TEST(DeltaPatch, BytesArePinnedOnEveryTarget) {
  const Bytes code = CodeLike(200000, 13);
  Bytes next = Relinked(code);
  next.insert(next.begin() + 5000, code.begin() + 100, code.begin() + 3000);
  next.erase(next.begin() + 150000, next.begin() + 160000);
  const Bytes patch = Make(code, next);
  const uLong crc = crc32(0L, patch.data(), static_cast<uInt>(patch.size()));
  EXPECT_EQ(patch.size(), 120174u);
  EXPECT_EQ(crc, 1241687061u);
}

// A patch whose bytes are cut short, extended or changed anywhere is
// refused (or, where the change is to bytes that do not matter, gives the
// right file): never a crash, never a wrong file reported as made.
TEST(DeltaPatch, DamagedPatchesAreRefused) {
  const Bytes old_data = CodeLike(20000, 12);
  Bytes new_data = Relinked(old_data);
  new_data.insert(new_data.begin() + 10000, 500, 'x');
  const Bytes patch = Make(old_data, new_data);
  ASSERT_TRUE(Apply(old_data, patch, new_data.size()).ok);

  for (size_t n = 0; n < patch.size(); ++n) {
    const Applied a = Apply(old_data, Bytes(patch.begin(), patch.begin() + n), new_data.size());
    EXPECT_FALSE(a.ok) << "cut to " << n;
  }
  EXPECT_FALSE(Apply(old_data, Concat(patch, {0}), new_data.size()).ok);
  EXPECT_FALSE(Apply(old_data, Concat(patch, patch), new_data.size()).ok);

  for (size_t i = 0; i < patch.size(); ++i) {
    for (uint8_t flip : {0x01, 0x80, 0xff}) {
      Bytes bad = patch;
      bad[i] ^= flip;
      const Applied a = Apply(old_data, bad, new_data.size());
      EXPECT_TRUE(!a.ok || a.out == new_data) << "byte " << i << " ^ " << int(flip);
      EXPECT_LE(a.out.size(), new_data.size()) << "byte " << i;
    }
  }
}

// A patch for another old file, or for a new file of another size, is
// refused; so is one that claims the expected size but would write more.
TEST(DeltaPatch, MismatchesAreRefused) {
  const Bytes a_old = Random(50000, 20);
  Bytes a_new = a_old;
  a_new[100] ^= 1;
  const Bytes b_old = Random(50000, 21);
  const Bytes patch = Make(a_old, a_new);
  // A patch that reads its old file: from a near copy of a_old.
  Bytes c_old = a_old;
  for (size_t i = 0; i < c_old.size(); i += 1000) c_old[i] ^= 0x33;
  const Bytes c_patch = Make(c_old, a_new);
  ASSERT_TRUE(Apply(c_old, c_patch, a_new.size()).ok);

  EXPECT_FALSE(Apply(b_old, patch, a_new.size()).ok) << "another old file of the same size";
  EXPECT_FALSE(Apply(Bytes(a_old.begin(), a_old.end() - 1), patch, a_new.size()).ok);
  EXPECT_FALSE(Apply(a_old, patch, a_new.size() - 1).ok);
  EXPECT_FALSE(Apply(a_old, patch, a_new.size() + 1).ok);
  EXPECT_FALSE(Apply(a_old, c_patch, a_new.size()).ok) << "patches swapped";

  // The header says a smaller file than the instructions make: the writes
  // stop at the size given, and the patch is refused.
  for (uint64_t claimed : {uint64_t{0}, uint64_t{1}, uint64_t{a_new.size() - 1}}) {
    Bytes lying = patch;
    delta::PatchHeader h;
    delta::DecodeHeader(lying.data(), &h);
    h.new_size = claimed;
    delta::EncodeHeader(h, lying.data());
    const Applied r = Apply(a_old, lying, claimed);
    EXPECT_FALSE(r.ok) << claimed;
    EXPECT_LE(r.out.size(), claimed);
  }
}

TEST(DeltaPatch, SizeLimitsAndMemory) {
  Bytes patch;
  std::string error;
  const uint8_t byte = 0;
  EXPECT_FALSE(delta::MakePatch(&byte, delta::kMaxPatchSourceSize + 1, &byte, 1, &patch, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(delta::PatchFitsThisProcess(delta::kMaxPatchSourceSize + 1, 1));
  // A 64 MiB pair fits any process: the 32-bit budget is above it.
  EXPECT_TRUE(delta::PatchFitsThisProcess(64 << 20, 64 << 20));
  // The estimate covers the files, the suffix array and the sorting's
  // working memory (an estimate below them would let the 32-bit build run
  // out of address space)...
  for (uint64_t n : {uint64_t{1} << 10, uint64_t{1} << 20, uint64_t{90} << 20}) {
    EXPECT_GE(delta::PatchMakeMemory(n, n), 6 * n + delta::SuffixArrayScratchBytes(n)) << n;
  }
  // ...and is no larger than the sorting needs (one that still counted a
  // type byte and two buckets a name, 4.5 bytes per old byte, would skip
  // files of 88 MiB that fit).
  EXPECT_LE(delta::SuffixArrayScratchBytes(uint64_t{1} << 30),
            (uint64_t{1} << 31) + (uint64_t{1} << 27));
  EXPECT_LE(delta::PatchMakeMemory(uint64_t{88} << 20, uint64_t{88} << 20),
            delta::kSmallAddressSpacePatchBudget);
  EXPECT_LE(delta::PatchApplyMemory(), uint64_t{8} << 20);
}

}  // namespace

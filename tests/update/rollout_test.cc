// Staged rollout over simulated installs: the share inside lands on the
// percentage, raising it never takes an install out, a halted rollout
// offers nothing, and an install's identifier is made once and kept.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "signing/hex_text.h"
#include "support/test_support.h"
#include "update/install_paths.h"
#include "update/rollout.h"

namespace {

// Identifiers as LoadInstallId makes them (16 random bytes in hexadecimal),
// from a seeded generator so that a failure can be run again.
std::vector<std::string> SimulatedIds(size_t count) {
  std::mt19937_64 generator(20261207);
  std::vector<std::string> ids;
  ids.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    unsigned char bytes[16];
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator());
    ids.push_back(HexText(bytes, sizeof bytes));
  }
  return ids;
}

TEST(Rollout, ShareOfHundredThousandInstallsAndRaisingIt) {
  const std::vector<std::string> ids = SimulatedIds(100000);
  const std::string patch = "Patch_20261207_143406";
  struct Step {
    int percent;
  } steps[] = {{0}, {1}, {10}, {25}, {50}, {90}, {100}};
  std::vector<bool> inside_before(ids.size(), false);
  for (const Step& step : steps) {
    size_t inside = 0;
    for (size_t i = 0; i < ids.size(); ++i) {
      bool in = update::InRollout(ids[i], patch, step.percent);
      // Raising the share never takes an install out.
      if (inside_before[i]) {
        ASSERT_TRUE(in) << "install " << i << " left at " << step.percent;
      }
      inside_before[i] = in;
      if (in) ++inside;
    }
    double share = 100.0 * static_cast<double>(inside) / static_cast<double>(ids.size());
    EXPECT_NEAR(share, step.percent, 1.0) << step.percent << "%";
    if (step.percent == 0) {
      EXPECT_EQ(inside, 0u) << "a halted rollout offers nothing";
    }
    if (step.percent == 100) {
      EXPECT_EQ(inside, ids.size());
    }
  }
  // Another release picks other first installs: the same 10% would mean the
  // same users meet every fault first.
  size_t both = 0;
  for (const std::string& id : ids) {
    if (update::InRollout(id, patch, 10) && update::InRollout(id, "Patch_20261208_090000", 10)) {
      ++both;
    }
  }
  EXPECT_LT(both, ids.size() / 50);
}

// The bucket is the documented rule, not just some even spread: installs
// keep their place in a rollout across client versions only while every
// version computes the same bucket. Values from Python's hashlib: the first
// eight bytes of SHA-256(id LF patch), big-endian, modulo 10000.
TEST(Rollout, BucketFollowsTheDocumentedRule) {
  struct Case {
    const char* id;
    const char* patch;
    uint32_t bucket;
  } cases[] = {
      {"00112233445566778899aabbccddeeff", "Patch_20261207_143406", 7858},
      {"ffeeddccbbaa99887766554433221100", "Patch_20261207_143406", 7261},
      {"00112233445566778899aabbccddeeff", "Patch_20261208_090000", 8911},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(update::RolloutBucket(c.id, c.patch), c.bucket) << c.id << " " << c.patch;
  }
}

TEST(Rollout, TheIdentifierIsMadeOnceAndKept) {
  testing_support::ScratchDir dir;
  std::string first;
  std::string second;
  std::string error;
  ASSERT_TRUE(update::LoadInstallId(dir.path(), &first, &error)) << error;
  ASSERT_TRUE(update::LoadInstallId(dir.path(), &second, &error)) << error;
  EXPECT_EQ(first, second);
  EXPECT_EQ(first.size(), 32u);
  EXPECT_EQ(testing_support::ReadFileBytes(dir.Sub(update::kInstallIdName)), first + "\n");
  testing_support::ScratchDir other;
  ASSERT_TRUE(update::LoadInstallId(other.path(), &second, &error)) << error;
  EXPECT_NE(first, second);
  // A file that is not one is reported, not silently replaced (which would
  // move the install in or out of every rollout).
  testing_support::WriteFileBytes(dir.Sub(update::kInstallIdName), "not an id\n");
  EXPECT_FALSE(update::LoadInstallId(dir.path(), &second, &error));
  EXPECT_EQ(testing_support::ReadFileBytes(dir.Sub(update::kInstallIdName)), "not an id\n");
}

}  // namespace

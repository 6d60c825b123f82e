// The channel pointer's reader takes exactly what the writer writes: a
// server could otherwise slip a second patch or sequence line past it.
#include <gtest/gtest.h>

#include <string>

#include "protocol/channel_pointer.h"

namespace {

std::string Replace(const std::string& text, const std::string& from, const std::string& to) {
  std::string result = text;
  result.replace(result.find(from), from.size(), to);
  return result;
}

// Channel beta, sequence 3, release 7 at Patch_20261207_143406, rollout 10.
std::string GoodPointer() {
  ChannelPointer pointer;
  pointer.channel = "beta";
  pointer.sequence = 3;
  pointer.patch = "Patch_20261207_143406";
  pointer.release = 7;
  pointer.rollout = 10;
  return FormatChannelPointer(pointer);
}

TEST(ChannelPointer, ReadsWhatItWritesAndNothingElse) {
  const std::string good = GoodPointer();
  ChannelPointer read;
  std::string error;
  ASSERT_TRUE(ParseChannelPointer(good, &read, &error)) << error;
  EXPECT_EQ(FormatChannelPointer(read), good);

  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"CR LF", Replace(good, "beta\n", "beta\r\n")},
      {"no end line", Replace(good, "end\n", "")},
      {"a second patch line",
       Replace(good, "release 7\n", "patch Patch_20261207_143407\nrelease 7\n")},
      {"another format", Replace(good, "filedist-channel 1", "filedist-channel 2")},
      {"sequence zero", Replace(good, "sequence 3", "sequence 0")},
      {"sequence with a sign", Replace(good, "sequence 3", "sequence -3")},
      {"release missing", Replace(good, "release 7", "release ")},
      {"patch that climbs out", Replace(good, "Patch_20261207_143406", "../Patch_20261207_1434")},
      {"channel with a dot", Replace(good, "channel beta", "channel be.ta")},
      {"too long", good + std::string(2000, 'x')},
      {"rollout above 100", Replace(good, "rollout 10", "rollout 101")},
      {"rollout with a leading zero", Replace(good, "rollout 10", "rollout 010")},
      {"rollout missing", Replace(good, "rollout 10\n", "")},
      {"expiry that is not a UTC time", Replace(good, "expires -", "expires tomorrow")},
      {"expiry missing", Replace(good, "expires -\n", "")},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseChannelPointer(c.text, &read, &error)) << c.name;
  }
  // Expiry: none, or a time from which the pointer is refused.
  EXPECT_FALSE(ChannelPointerExpired(read, "2999-01-01T00:00:00Z"));
  read.expires = "2026-12-07T12:00:00Z";
  ASSERT_TRUE(ParseChannelPointer(FormatChannelPointer(read), &read, &error)) << error;
  EXPECT_FALSE(ChannelPointerExpired(read, "2026-12-07T11:59:59Z"));
  EXPECT_TRUE(ChannelPointerExpired(read, "2026-12-07T12:00:00Z"));
  EXPECT_TRUE(IsChannelName("stable"));
  EXPECT_TRUE(IsChannelName("beta-2_x"));
  EXPECT_FALSE(IsChannelName(""));
  EXPECT_FALSE(IsChannelName("a/b"));
  EXPECT_FALSE(IsChannelName(std::string(65, 'a')));
}

// A pointer's numbers are whole numbers from 1 with at most 18 digits (the
// rollout from 0 to 100) and its channel takes no dot: the bounds that
// pointers already published are read with.
TEST(ChannelPointer, NumbersAndNamesKeepTheirBounds) {
  const std::string good = GoodPointer();
  const std::string kMost = std::string(18, '9');
  const struct {
    const char* from;
    std::string to;
    bool read;
  } cases[] = {
      {"sequence 3", "sequence 1", true},
      {"sequence 3", "sequence " + kMost, true},
      {"sequence 3", "sequence 1" + std::string(18, '0'), false},
      {"sequence 3", "sequence 03", false},
      {"sequence 3", "sequence ", false},
      {"sequence 3", "sequence +3", false},
      {"release 7", "release " + kMost, true},
      {"release 7", "release 0", false},
      {"release 7", "release 07", false},
      {"release 7", "release 1" + std::string(18, '0'), false},
      {"rollout 10", "rollout 0", true},
      {"rollout 10", "rollout 100", true},
      {"rollout 10", "rollout 00", false},
      {"rollout 10", "rollout 1" + std::string(18, '0'), false},
      {"channel beta", "channel " + std::string(64, 'b'), true},
      {"channel beta", "channel " + std::string(65, 'b'), false},
      {"channel beta", "channel a-Z_09", true},
      {"channel beta", "channel a+b", false},
      {"Patch_20261207_143406", "Patch_20261207_14340x", false},
      {"Patch_20261207_143406", "Patch_20261207_143406.", false},
  };
  for (const auto& c : cases) {
    ChannelPointer read;
    std::string error;
    EXPECT_EQ(ParseChannelPointer(Replace(good, c.from, c.to), &read, &error), c.read) << c.to;
  }
  ChannelPointer read;
  std::string error;
  ASSERT_TRUE(ParseChannelPointer(Replace(good, "sequence 3", "sequence " + kMost), &read, &error));
  EXPECT_EQ(read.sequence, 999999999999999999u);
}

}  // namespace

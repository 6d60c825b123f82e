#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/ascii_case.h"
#include "util/path_components.h"
#include "util/whole_number.h"

namespace {

using Parts = std::vector<std::string>;

// The splitter's own rules, which every caller builds on; what each caller
// then makes of ".." is pinned by that caller's tests.
TEST(PathComponents, SplitsAtBothSeparatorsAndKeepsEveryParentStep) {
  struct Case {
    const char* name;
    const char* path;
    Parts components;
  };
  const Case cases[] = {
      {"empty", "", {}},
      {"root alone", "/", {}},
      {"both separators", "a\\b/c", {"a", "b", "c"}},
      {"doubled, leading and trailing separators", "//a\\\\b/", {"a", "b"}},
      {"dots dropped", "./a/./b/.", {"a", "b"}},
      {"parent steps kept in place", "../a/../../b", {"..", "a", "..", "..", "b"}},
      {"names that only start with dots", "...\\.a\\..b", {"...", ".a", "..b"}},
      {"drive and blanks are names", "C: \\ x", {"C: ", " x"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(util::PathComponents(c.path), c.components) << c.name;
  }
}

TEST(PathComponents, FoldsParentStepsKeepingOrDroppingTheOnesAboveTheStart) {
  struct Case {
    const char* name;
    Parts components;
    Parts kept;     // keep_leading: a relative path climbing above its start
    Parts dropped;  // the parent of the top is the top
  };
  const Case cases[] = {
      {"into the one before", {"a", "b", "..", "c"}, {"a", "c"}, {"a", "c"}},
      {"above the start", {"..", "..", "a"}, {"..", "..", "a"}, {"a"}},
      {"back above the start", {"a", "..", "..", "b"}, {"..", "b"}, {"b"}},
      {"a step does not fold into a kept step", {"..", "a", "..", ".."}, {"..", ".."}, {}},
      {"nothing to fold", {"a", "b"}, {"a", "b"}, {"a", "b"}},
  };
  for (const Case& c : cases) {
    Parts kept = c.components;
    util::FoldParentSteps(&kept, true);
    EXPECT_EQ(kept, c.kept) << c.name;
    Parts dropped = c.components;
    util::FoldParentSteps(&dropped, false);
    EXPECT_EQ(dropped, c.dropped) << c.name;
  }
}

TEST(AsciiCase, FoldsAToZOnly) {
  EXPECT_EQ(util::LowerAscii("ABC xyz @[`{ 09"), "abc xyz @[`{ 09");
  // Bytes of other code pages keep their case: "\xC4" and "\xE4" are one
  // letter in Latin-1 but not the same name everywhere.
  EXPECT_EQ(util::LowerAscii("\xC4\xD6"), "\xC4\xD6");
  EXPECT_FALSE(util::EqualIgnoringAsciiCase("\xC4", "\xE4"));
  EXPECT_TRUE(util::EqualIgnoringAsciiCase("Setup.EXE", "setup.exe"));
  EXPECT_FALSE(util::EqualIgnoringAsciiCase("setup.exe", "setup.ex"));
  // '@' and '`' lie next to 'A' and 'a' but are no letters.
  EXPECT_FALSE(util::EqualIgnoringAsciiCase("@", "`"));
  EXPECT_TRUE(util::StartsWithIgnoringAsciiCase(".~OLD-1234abcd-app.exe", ".~old-"));
  EXPECT_FALSE(util::StartsWithIgnoringAsciiCase(".~ol", ".~old-"));
  EXPECT_EQ(util::AsciiUpper('z'), 'Z');
  EXPECT_EQ(util::AsciiUpper('{'), '{');
}

// What strtoull would wrap or clamp into another number is refused: a sign,
// a space, a value past 64 bits or past the range.
TEST(WholeNumber, TakesDigitsWithinTheRangeAndRefusesWhatWouldWrap) {
  const uint64_t kLow = 1;
  const uint64_t kHigh = UINT64_MAX - 5;
  const struct {
    const char* text;
    bool taken;
    uint64_t value;
  } cases[] = {
      {"1", true, 1},
      {"0042", true, 42},
      {"18446744073709551610", true, UINT64_MAX - 5},
      {"18446744073709551611", false, 0},  // one past the range
      {"18446744073709551616", false, 0},  // one past 64 bits
      {"99999999999999999999999", false, 0},
      {"0", false, 0},
      {"-1", false, 0},
      {" -1", false, 0},
      {"+5", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"5x", false, 0},
      {"", false, 0},
      {nullptr, false, 0},
  };
  for (const auto& c : cases) {
    uint64_t value = 7;
    EXPECT_EQ(util::ParseCount(c.text, kLow, kHigh, &value), c.taken)
        << (c.text != nullptr ? c.text : "null");
    EXPECT_EQ(value, c.taken ? c.value : 7) << (c.text != nullptr ? c.text : "null");
  }
  int count = 3;
  EXPECT_TRUE(util::ParseCount("64", 1, 64, &count));
  EXPECT_EQ(count, 64);
  EXPECT_FALSE(util::ParseCount("65", 1, 64, &count));
  // 2^32 + 1 must not come out as 1.
  EXPECT_FALSE(util::ParseCount("4294967297", 1, 64, &count));
  EXPECT_EQ(count, 64);
}

}  // namespace

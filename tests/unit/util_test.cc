#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/ascii_case.h"
#include "util/path_components.h"

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

}  // namespace

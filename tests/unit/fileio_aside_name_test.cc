// Names for files moved aside while in use: they must fit where the file
// itself fitted, or the move, and with it the update, fails.
#include <gtest/gtest.h>

#include <string>

#include "fileio/aside_name.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

bool IsHex(const std::string& text) {
  return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(AsideName, FitsBesideTheFileItReplaces) {
  testing_support::ScratchDir scratch;
  const std::string dir = scratch.path() + testing_support::Sep();
  struct Case {
    size_t name_length;
    bool keeps_name;  // ".~old-", 8 digits, "-" and the name fit one folder entry (255)
  };
  const Case cases[] = {{1, true}, {12, true}, {240, true}, {241, false}, {255, false}};
  for (const Case& c : cases) {
    std::string name(c.name_length, 'n');
    std::string aside = AsidePathFor(dir + name);
    SCOPED_TRACE(c.name_length);
    // Where the whole path would not fit the system's limit the name goes too.
    bool room = dir.size() + 15 + c.name_length <= plat::kMaxFilePathLength;
    ASSERT_EQ(aside.compare(0, dir.size() + 6, dir + ".~old-"), 0) << aside;
    std::string rest = aside.substr(dir.size() + 6);
    EXPECT_TRUE(IsHex(rest.substr(0, 8))) << rest;
    if (c.keeps_name && room) {
      EXPECT_EQ(rest.substr(8), "-" + name);
    } else {
      EXPECT_EQ(rest.size(), 8u) << rest;
    }
    EXPECT_LE(aside.size(), plat::kMaxFilePathLength);
  }
}

}  // namespace

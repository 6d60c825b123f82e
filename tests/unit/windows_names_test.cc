// Windows device names and the names Windows changes, as the build and a
// Windows client judge them: a release name must be refused exactly when
// Windows would open a device or another file in its place.
#include <gtest/gtest.h>

#include <string>

#include "util/windows_names.h"

namespace {

TEST(WindowsNames, DeviceNamesInEveryFormAndOnlyThose) {
  struct Case {
    const char* name;
    bool device;
  };
  const Case cases[] = {
      {"CON", true},        {"con", true},         {"nul", true},          {"aux.txt", true},
      {"Com1.log", true},   {"LPT9.tar.gz", true}, {"com0", true},         {"lpt0.x", true},
      {"conin$", true},     {"CONOUT$.txt", true}, {"prn .txt", true},     {"NUL ", true},
      {"com10", false},     {"lpt", false},        {"console.txt", false}, {"auxiliary", false},
      {"nul2.txt", false},  {".aux", false},       {"my.con", false},      {"conin", false},
      {"com1x.log", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(util::IsWindowsDeviceName(c.name), c.device) << c.name;
    // Refused for one reason or another exactly when a device.
    EXPECT_EQ(util::WindowsNameProblem(c.name).empty(), !c.device) << c.name;
  }
}

TEST(WindowsNames, NamesWindowsChangesOrCannotHold) {
  EXPECT_NE(util::WindowsNameProblem("b.txt.").find("dot or a space"), std::string::npos);
  EXPECT_NE(util::WindowsNameProblem("c.txt ").find("dot or a space"), std::string::npos);
  EXPECT_NE(util::WindowsNameProblem("a|b").find("'|'"), std::string::npos);
  EXPECT_NE(util::WindowsNameProblem(std::string("a\0b", 3)).find("control"), std::string::npos);
  EXPECT_NE(util::WindowsNameProblem("tab\tname").find("control"), std::string::npos);
  // Short names of other files, as Windows and Wine make them.
  for (const char* alias : {"FILEDI~1", "filedi~1", "_FIL~CRR", "PROGRA~2.TXT", "a~b.c", "~1"}) {
    EXPECT_NE(util::WindowsNameProblem(alias).find("short (8.3) name"), std::string::npos) << alias;
  }
  for (const char* name : {"~$report.docx", "backup~.txt.old", "notes.txt~", "long~name.txt"}) {
    EXPECT_EQ(util::WindowsNameProblem(name), "") << name;
  }
  EXPECT_EQ(util::WindowsNameProblem("read me (1).txt"), "");
  EXPECT_EQ(util::WindowsNameProblem("\xc3\xa9t\xc3\xa9.txt"), "");
  // Names Windows takes for one file fold alike.
  EXPECT_EQ(util::WindowsFoldedName("a.txt"), util::WindowsFoldedName("A.TXT"));
  EXPECT_EQ(util::WindowsFoldedName("b.txt"), util::WindowsFoldedName("b.txt. . "));
  EXPECT_NE(util::WindowsFoldedName("a.txt"), util::WindowsFoldedName("a.txt2"));
}

}  // namespace

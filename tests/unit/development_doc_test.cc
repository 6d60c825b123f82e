// docs/development.md is where a newcomer learns what the modules and the
// fuzz targets are; a module or a fuzzer added without a word there would
// leave the page quietly out of date, so every one of them must be named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

const std::string kSource = FILEDIST_SOURCE_DIR;

std::vector<plat::DirEntry> Listing(const std::string& dir) {
  std::vector<plat::DirEntry> entries;
  EXPECT_TRUE(plat::ListDirectory(dir, &entries)) << dir;
  return entries;
}

// The name each top-level folder declares with filedist_module(NAME ...).
std::vector<std::string> DeclaredModules() {
  std::vector<std::string> modules;
  for (const plat::DirEntry& entry : Listing(kSource)) {
    if ((entry.attributes & plat::kAttrDirectory) == 0 || entry.name[0] == '.') continue;
    const std::string lists = kSource + "/" + entry.name + "/CMakeLists.txt";
    if (!plat::PathExists(lists.c_str())) continue;
    const std::string text = testing_support::ReadFileBytes(lists);
    const std::string call = "filedist_module(";
    size_t at = text.find(call);
    if (at == std::string::npos) continue;
    at += call.size();
    modules.push_back(text.substr(at, text.find_first_of(" \n)", at) - at));
  }
  return modules;
}

// The entry of each fuzz/ENTRY_fuzz.cc.
std::vector<std::string> FuzzEntries() {
  const std::string suffix = "_fuzz.cc";
  std::vector<std::string> entries;
  for (const plat::DirEntry& entry : Listing(kSource + "/fuzz")) {
    const std::string& name = entry.name;
    if (name.size() > suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      entries.push_back(name.substr(0, name.size() - suffix.size()));
    }
  }
  return entries;
}

TEST(DevelopmentDoc, NamesEveryModuleAndFuzzTarget) {
  const std::string page = testing_support::ReadFileBytes(kSource + "/docs/development.md");
  ASSERT_FALSE(page.empty());
  const struct {
    const char* what;
    std::vector<std::string> names;
  } groups[] = {{"module", DeclaredModules()}, {"fuzz target", FuzzEntries()}};
  for (const auto& group : groups) {
    // Finding none would let a broken listing pass for a complete page.
    EXPECT_GE(group.names.size(), 10u) << group.what;
    for (const std::string& name : group.names) {
      EXPECT_NE(page.find("`" + name + "`"), std::string::npos)
          << "docs/development.md does not name the " << group.what << " `" << name << "`";
    }
  }
}

}  // namespace

// Links in a source tree: released as what they lead to; one that leads
// nowhere or back into the tree being walked stops the release by name.
#include "e2e/build_release_fixture.h"

namespace {

using namespace build_e2e;

class BuildLinks : public BuildVerHost {
 protected:
  // False where the system (or Wine) makes no directory links.
  bool MakeLink(const std::string& target, const std::string& link, bool directory) {
    std::error_code error;
    if (directory) {
      fs::create_directory_symlink(target, link, error);
    } else {
      fs::create_symlink(target, link, error);
    }
    return !error;
  }
};

TEST_F(BuildLinks, ALinkIsReleasedAsWhatItLeadsTo) {
  MakeDirs(scratch_.Sub("shared/lib"));
  WriteFileBytes(scratch_.Sub("shared/lib/common.bin"), "shared library");
  WriteFileBytes(scratch_.Sub("outside.txt"), "a file outside the tree");
  if (!MakeLink(scratch_.Sub("shared"), Source("linked"), true) ||
      !MakeLink(scratch_.Sub("outside.txt"), Source("bin/outside.txt"), false)) {
    GTEST_SKIP() << "no links here";
  }
  std::string patch = BuildOk({});
  EXPECT_EQ(GunzipFile(patch + Sep() + Native("linked/lib/common.bin")), "shared library");
  EXPECT_EQ(GunzipFile(patch + Sep() + Native("bin/outside.txt")), "a file outside the tree");
  std::string list = ReadFileBytes(Packer("VerComp.dat"));
  EXPECT_NE(list.find(".\\linked\\lib\\common.bin," + KeyOfBytes("shared library") + ","),
            std::string::npos)
      << list;
}

TEST_F(BuildLinks, ALinkThatLeadsNowhereOrBackIntoTheTreeStopsTheRelease) {
  WriteFileBytes(Packer("VerComp.dat"), "earlier list");
  if (!MakeLink(source_, Source("docs/up"), true) ||
      !MakeLink(Source("docs"), Source("bin/sideways"), true) ||
      !MakeLink(scratch_.Sub("gone.txt"), Source("dangling.txt"), false)) {
    GTEST_SKIP() << "no links here";
  }
  const struct {
    std::string link;
    std::string words;
  } cases[] = {
      {Source("docs/up"), "] leads back into [" + source_ + "]"},
      {Source("bin/sideways/up"), "] leads back into [" + source_ + "]"},
      {Source("dangling.txt"), "] leads to nothing"},
  };
  std::string output;
  EXPECT_EQ(Build({}, &output), 1) << output;
  Strings log = LogLinesWithoutTime(Packer("BuildVer.log"));
  EXPECT_EQ(log.size(), std::size(cases)) << output;
  for (const auto& c : cases) {
    std::string line = "[ERROR] : Link [" + c.link + c.words;
    bool found = false;
    for (const std::string& logged : log)
      found = found || logged.compare(0, line.size(), line) == 0;
    EXPECT_TRUE(found) << line << "\n" << output;
    EXPECT_NE(output.find("error: Link [" + c.link + c.words), std::string::npos) << output;
  }
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), "earlier list");
  EXPECT_FALSE(FileExists(Packer("__CompressTemp__")));

  // BuildVer stops as filedist build does.
  EXPECT_EQ(BuildVerInPacker(0, source_, "out", "releases"), "BUILD=0 ");
}

}  // namespace

#include "fileio/io_util.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::SetReadOnly;
using testing_support::StartupDirIn;
using testing_support::WriteFileBytes;

bool IsDir(const std::string& path) { return std::filesystem::is_directory(path); }

TEST(MakeDirTree, CreatesEveryMissingLevel) {
  ScratchDir scratch;
  std::string deep = scratch.Sub("a/b/c");
  EXPECT_EQ(MakeDirTree(deep.c_str()), 1);
  EXPECT_TRUE(IsDir(scratch.Sub("a")) && IsDir(scratch.Sub("a/b")) && IsDir(deep));
  // Both separators, and a trailing one.
  std::string mixed = scratch.path() + "\\x/y\\z\\";
  EXPECT_EQ(IOUtil_MakeDirTree(mixed.c_str()), 1);
  EXPECT_TRUE(IsDir(scratch.Sub("x/y/z")));
}

TEST(MakeDirTree, ExistingDirectoryOrFileIsSuccess) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("file"), "data");
  EXPECT_EQ(IOUtil_MakeDirTree(scratch.path().c_str()), 1);
  EXPECT_EQ(IOUtil_MakeDirTree(scratch.Sub("file").c_str()), 1);
  EXPECT_EQ(ReadFileBytes(scratch.Sub("file")), "data");
}

// The sound answer is whether the directory exists afterwards: a name that
// cannot be made under an existing parent is a failure, not a success.
TEST(MakeDirTree, FailuresEndWithZeroAndNeverLoop) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("file"), "data");
  std::string invalid_leaf = scratch.Sub(std::string(300, 'n'));
  std::string under_a_file = scratch.Sub("file/sub/leaf");
  std::string invalid_middle = scratch.Sub(std::string(300, 'm') + "/leaf");
  std::string bare_invalid(300, 'b');
  for (const std::string& path : {invalid_leaf, under_a_file, invalid_middle, bare_invalid}) {
    EXPECT_EQ(IOUtil_MakeDirTree(path.c_str()), 0) << path;
    EXPECT_FALSE(FileExists(path)) << path;
  }
  EXPECT_EQ(IOUtil_MakeDirTree(nullptr), 0);
  EXPECT_EQ(IOUtil_MakeDirTree(""), 0);
}

TEST(RemoveDirTree, RemovesWhatItCan) {
  ScratchDir scratch;
  EXPECT_EQ(IOUtil_RemoveDirTree(scratch.Sub("missing").c_str()), 0);

  testing_support::MakeDirs(scratch.Sub("empty"));
  EXPECT_NE(IOUtil_RemoveDirTree(scratch.Sub("empty").c_str()), 0);
  EXPECT_FALSE(FileExists(scratch.Sub("empty")));

  testing_support::MakeDirs(scratch.Sub("tree/keep/deeper"));
  testing_support::MakeDirs(scratch.Sub("tree/gone/deeper"));
  WriteFileBytes(scratch.Sub("tree/top.txt"), "t");
  WriteFileBytes(scratch.Sub("tree/gone/deeper/x.bin"), "x");
  WriteFileBytes(scratch.Sub("tree/keep/deeper/locked.txt"), "l");
  SetReadOnly(scratch.Sub("tree/keep/deeper/locked.txt"), true);
  EXPECT_EQ(IOUtil_RemoveDirTree(scratch.Sub("tree").c_str()), 0);
  EXPECT_TRUE(FileExists(scratch.Sub("tree/keep/deeper/locked.txt")));
  EXPECT_FALSE(FileExists(scratch.Sub("tree/top.txt")));
  EXPECT_FALSE(FileExists(scratch.Sub("tree/gone")));
}

TEST(RemoveDirTree, RemovesALinkNotWhatItPointsTo) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("outside"));
  WriteFileBytes(scratch.Sub("outside/precious.txt"), "p");
  testing_support::MakeDirs(scratch.Sub("tree"));
  std::error_code error;
  std::filesystem::create_directory_symlink(scratch.Sub("outside"), scratch.Sub("tree/link"),
                                            error);
  if (error) GTEST_SKIP() << "this system makes no directory links: " << error.message();
  EXPECT_NE(IOUtil_RemoveDirTree(scratch.Sub("tree").c_str()), 0);
  EXPECT_FALSE(FileExists(scratch.Sub("tree")));
  EXPECT_EQ(ReadFileBytes(scratch.Sub("outside/precious.txt")), "p");

  // The tree named is a link itself (a patch directory's name planted in a
  // release folder), also spelled with a separator after it.
  for (const std::string& spelling : {std::string("top"), std::string("top/")}) {
    std::filesystem::create_directory_symlink(scratch.Sub("outside"), scratch.Sub("top"), error);
    ASSERT_FALSE(error) << error.message();
    EXPECT_NE(IOUtil_RemoveDirTree(scratch.Sub(spelling).c_str()), 0) << spelling;
    EXPECT_FALSE(std::filesystem::is_symlink(scratch.Sub("top"))) << spelling;
    EXPECT_EQ(ReadFileBytes(scratch.Sub("outside/precious.txt")), "p") << spelling;
  }
}

TEST(CopyFile, OverwritesProtectedAndCreatesMissingTargets) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("src"), "fresh bytes");
  WriteFileBytes(scratch.Sub("dst"), "stale bytes, longer than the source");
  SetReadOnly(scratch.Sub("dst"), true);
  EXPECT_NE(IOUtil_CopyFile(scratch.Sub("src").c_str(), scratch.Sub("dst").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(scratch.Sub("dst")), "fresh bytes");
  uint32_t attributes = 0;
  ASSERT_TRUE(plat::GetAttributes(scratch.Sub("dst").c_str(), &attributes));
  EXPECT_EQ(attributes & plat::kAttrReadOnly, 0u);  // the source's attributes

  EXPECT_NE(IOUtil_CopyFile(scratch.Sub("src").c_str(), scratch.Sub("new").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(scratch.Sub("new")), "fresh bytes");
  EXPECT_EQ(IOUtil_CopyFile(scratch.Sub("missing").c_str(), scratch.Sub("new2").c_str()), 0);
  EXPECT_FALSE(FileExists(scratch.Sub("new2")));

  // Another name of the source is not copied onto: that would empty it.
  for (const testing_support::OtherName& name : testing_support::OtherNamesOf(scratch.Sub("src"))) {
    EXPECT_EQ(IOUtil_CopyFile(scratch.Sub("src").c_str(), name.path.c_str()), 0) << name.kind;
    EXPECT_EQ(ReadFileBytes(scratch.Sub("src")), "fresh bytes") << name.kind;
  }
}

TEST(GetFileSize, SizesAndMissingFiles) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("empty"), "");
  WriteFileBytes(scratch.Sub("some"), std::string(100000, 's'));
  EXPECT_EQ(IOUtil_GetFileSize(scratch.Sub("empty").c_str()), 0);
  EXPECT_EQ(IOUtil_GetFileSize(scratch.Sub("some").c_str()), 100000);
  EXPECT_EQ(IOUtil_GetFileSize(scratch.Sub("missing").c_str()), -1);
  EXPECT_EQ(IOUtil_GetFileSize(nullptr), -1);
}

TEST(PathUtilities, ResolveRelativeAndCombine) {
  ScratchDir scratch;
  const std::string& base = scratch.path();
  EXPECT_EQ(IOUtil_ResolvePath("rel", base), base + Sep() + "rel");
  EXPECT_EQ(IOUtil_ResolvePath("a\\..\\b", base), base + Sep() + "b");
  EXPECT_EQ(IOUtil_ResolvePath(base.c_str(), "elsewhere"), base);
  EXPECT_EQ(IOUtil_ResolvePath(nullptr, base), "");
  EXPECT_EQ(IOUtil_ResolvePath(std::string(1100, 'r').c_str(), base), "");

  std::string rel;
  ASSERT_TRUE(GetRelPath((base + Sep() + "Rel").c_str(),
                         (base + Sep() + "Rel" + Sep() + "data" + Sep() + "a.txt").c_str(), &rel));
  EXPECT_EQ(rel, ".\\data\\a.txt");

  std::string combined;
  ASSERT_TRUE(Combine((base + Sep() + "__CompressTemp__").c_str(), ".\\data\\a.txt", &combined));
  EXPECT_EQ(combined, base + Sep() + "__CompressTemp__" + Sep() + "data" + Sep() + "a.txt");
  EXPECT_FALSE(Combine(base.c_str(), std::string(1100, 'c').c_str(), &combined));
}

TEST(PathUtilities, ChildPathsAndParentsAreBounded) {
  std::string child;
  ASSERT_TRUE(FormatChildPath("dir", "name", &child));
  EXPECT_EQ(child, std::string("dir") + Sep() + "name");
  EXPECT_TRUE(FormatChildPath(std::string(1000, 'd'), std::string(22, 'n').c_str(), &child));
  EXPECT_FALSE(FormatChildPath(std::string(1000, 'd'), std::string(23, 'n').c_str(), &child));

  std::string parent;
  ASSERT_TRUE(SplitParentDir("a\\b/c", &parent));
  EXPECT_EQ(parent, "a\\b");
  EXPECT_FALSE(SplitParentDir("plain", &parent));
}

// The startup directory is the host program's, wherever it is started from,
// until a test puts it elsewhere; relative paths resolve against it.
TEST(StartupDir, IsTheHostExecutablesDirectory) {
  char dir[1024];
  ASSERT_EQ(GetStartupDir(dir, sizeof(dir)), 1);
  EXPECT_EQ(std::string(dir), testing_support::TestProgramDir());

  ScratchDir scratch;
  StartupDirIn host(scratch.path());
  ASSERT_EQ(GetStartupDir(dir, sizeof(dir)), 1);
  EXPECT_EQ(std::string(dir), scratch.path());
  EXPECT_EQ(IOUtil_ResolvePath("rel\\x", dir), scratch.path() + Sep() + "rel" + Sep() + "x");

  char small[4];
  EXPECT_EQ(GetStartupDir(small, sizeof(small)), 0);
  EXPECT_EQ(GetStartupDir(nullptr, 1024), 0);
}

}  // namespace

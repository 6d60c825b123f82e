#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/release_oracles.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::KeysOfBytes;
using testing_support::MakeDirs;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;

// Filter lists as a Filters.ini of this text gives them.
void LoadFilterText(CFileVersion* version, const ScratchDir& scratch, const std::string& text) {
  std::string ini = scratch.Sub("filters_set_up.ini");
  WriteFileBytes(ini, text);
  version->LoadFilters(ini.c_str());
}

Strings ScannedPaths(const CFileVersion& version, const std::string& root) {
  Strings paths;
  for (const VersionRecord& record : version.scan_list()) {
    EXPECT_EQ(record.path.compare(0, root.size(), root), 0) << record.path;
    std::string relative = record.path.substr(root.size() + 1);
    for (char& c : relative) {
      if (c == Sep()) c = '/';
    }
    paths.push_back(relative);
  }
  return paths;
}

TEST(LoadFilters, TakesTheFirstLineOfEachSectionSplitAtSemicolons) {
  struct Case {
    const char* ini;
    Strings ext, file, keyword;
  };
  const Case cases[] = {
      {"[Ext]\n.pdb;.ilk;.bak\n", {".pdb", ".ilk", ".bak"}, {}, {}},
      // An empty entry stays (it excludes everything); a trailing ';' adds none.
      {"[Ext]\n.pdb;;.ilk\n", {".pdb", "", ".ilk"}, {}, {}},
      {"[Ext]\n.pdb;\n", {".pdb"}, {}, {}},
      {"[Ext]\na;;\n", {"a", ""}, {}, {}},
      // Only the first line of a section counts.
      {"[Ext]\n.pdb\n.ilk\n", {".pdb"}, {}, {}},
      // Entries are kept as written: no trimming, no lowercasing.
      {"[File]\nRead Me ; b\n", {}, {"Read Me ", " b"}, {}},
      {"[Keyword]\ntemp;debug\n[Ext]\n.PDB\n[Other]\nx\n", {".PDB"}, {}, {"temp", "debug"}},
      {"[Ext]\n[File]\n[Keyword]\n", {}, {}, {}},
  };
  ScratchDir scratch;
  std::string ini = scratch.Sub("Filters.ini");
  for (const Case& c : cases) {
    WriteFileBytes(ini, c.ini);
    CFileVersion version;
    LoadFilterText(&version, scratch, "[File]\nleft over\n");
    version.LoadFilters(ini.c_str());
    EXPECT_EQ(version.ext_filters(), c.ext) << c.ini;
    EXPECT_EQ(version.file_filters(), c.file) << c.ini;
    EXPECT_EQ(version.keyword_filters(), c.keyword) << c.ini;
  }
}

TEST(LoadFilters, MissingFileEmptiesEveryList) {
  ScratchDir scratch;
  CFileVersion version;
  LoadFilterText(&version, scratch, "[Ext]\n.pdb\n[Keyword]\ntmp\n");
  version.LoadFilters(scratch.Sub("Filters.ini").c_str());
  EXPECT_TRUE(version.ext_filters().empty());
  EXPECT_TRUE(version.file_filters().empty());
  EXPECT_TRUE(version.keyword_filters().empty());
}

TEST(ScanDirectory, WalksDepthFirstInDirectoryOrderWithKeysAndSizes) {
  ScratchDir scratch;
  std::string root = scratch.Sub("src");
  MakeDirs(scratch.Sub("src/b_dir/inner"));
  MakeDirs(scratch.Sub("src/.hidden"));
  MakeDirs(scratch.Sub("src/empty_dir"));
  WriteFileBytes(scratch.Sub("src/a.txt"), "abc");
  WriteFileBytes(scratch.Sub("src/C.bin"), std::string(5000, '\x7f'));
  WriteFileBytes(scratch.Sub("src/b_dir/z.dat"), "");
  WriteFileBytes(scratch.Sub("src/b_dir/inner/deep.txt"), "deep");
  WriteFileBytes(scratch.Sub("src/.hidden/h.txt"), "hidden");

  CFileVersion version;
  version.ScanDirectory(root.c_str());
  // NTFS order: by upper-case name, so '.' < 'A' < 'B' < 'C' and '_' after letters.
  EXPECT_EQ(ScannedPaths(version, root),
            (Strings{".hidden/h.txt", "a.txt", "b_dir/inner/deep.txt", "b_dir/z.dat", "C.bin"}));
  const struct {
    const char* content;
    int32_t size;
  } expected[] = {{"hidden", 6}, {"abc", 3}, {"deep", 4}, {"", 0}, {nullptr, 5000}};
  std::vector<std::string> contents;
  for (const auto& file : expected) {
    contents.push_back(file.content ? file.content : std::string(5000, '\x7f'));
  }
  const std::vector<std::string> keys = KeysOfBytes(contents);
  for (size_t i = 0; i < version.scan_list().size(); ++i) {
    const VersionRecord& record = version.scan_list()[i];
    EXPECT_EQ(record.key, keys[i]) << record.path;
    EXPECT_EQ(record.size, expected[i].size) << record.path;
    EXPECT_EQ(record.flag, ENTRY_LISTED);
  }
  EXPECT_TRUE(version.excluded_list().empty());
}

TEST(ScanDirectory, FiltersMatchSubstringsOfTheLowercasedFileName) {
  ScratchDir scratch;
  std::string root = scratch.Sub("src");
  MakeDirs(scratch.Sub("src/data"));
  const char* const names[] = {"a.TXT",         "data.tmp", "keep.bin",      "my.txtfile",
                               "notes.txt.bak", "x.pdb",    "data/inner.bin"};
  for (const char* name : names) WriteFileBytes(scratch.Sub(std::string("src/") + name), name);

  CFileVersion version;
  // ".PDB" matches nothing: names are lowercased, entries are not. "data" as
  // a File entry does not stop the directory data from being walked.
  LoadFilterText(&version, scratch, "[Ext]\n.txt;.PDB\n[File]\ndata\n[Keyword]\nzzz;tmp\n");
  version.ScanDirectory(root.c_str());

  EXPECT_EQ(ScannedPaths(version, root), (Strings{"data/inner.bin", "keep.bin", "x.pdb"}));
  // One entry per list that matched: data.tmp matched File and Keyword.
  EXPECT_EQ(version.excluded_list(),
            (Strings{"a.txt", "data.tmp", "data.tmp", "my.txtfile", "notes.txt.bak"}));
}

TEST(ScanDirectory, EmptyEntryExcludesEveryFile) {
  ScratchDir scratch;
  MakeDirs(scratch.Sub("src/sub"));
  WriteFileBytes(scratch.Sub("src/a"), "1");
  WriteFileBytes(scratch.Sub("src/sub/B"), "2");
  CFileVersion version;
  LoadFilterText(&version, scratch, "[Ext]\n.pdb;;.ilk\n");
  version.ScanDirectory(scratch.Sub("src").c_str());
  EXPECT_TRUE(version.scan_list().empty());
  EXPECT_EQ(version.excluded_list(), (Strings{"a", "b"}));
}

TEST(ScanDirectory, EmptyOrMissingDirectoryAddsNothingAndAppendsToEarlierResults) {
  ScratchDir scratch;
  MakeDirs(scratch.Sub("empty"));
  CFileVersion version;
  version.SetScanList({VersionRecord{"earlier", "k", 1, 0}});
  version.ScanDirectory(scratch.Sub("empty").c_str());
  version.ScanDirectory(scratch.Sub("missing").c_str());
  ASSERT_EQ(version.scan_list().size(), 1u);
  EXPECT_EQ(version.scan_list()[0].path, "earlier");
}

TEST(ScanDirectory, LeavesOutTheReleaseOwnDirectoriesHoweverSpelled) {
  ScratchDir scratch;
  std::string root = scratch.Sub("src");
  MakeDirs(scratch.Sub("src/__CompressTemp__/sub"));
  MakeDirs(scratch.Sub("src/rel/Patch_20090630_170509"));
  WriteFileBytes(scratch.Sub("src/__CompressTemp__/sub/old.txt"), "old");
  WriteFileBytes(scratch.Sub("src/rel/Patch_20090630_170509/old.txt"), "old");
  WriteFileBytes(scratch.Sub("src/rel/notes.txt"), "mine");
  WriteFileBytes(scratch.Sub("src/a.txt"), "a");

  CFileVersion version;
  std::string sep(1, Sep());
  version.SetScanSkipDirs({
      root + sep + "." + sep + "__COMPRESSTEMP__" + sep,
      root + "/rel/../rel\\Patch_20090630_170509",
  });
  version.ScanDirectory(root.c_str());
  EXPECT_EQ(ScannedPaths(version, root), (Strings{"a.txt", "rel/notes.txt"}));
}

TEST(ScanDirectory, WalksDirectoryLinksButNotBackUpTheTree) {
  ScratchDir scratch;
  std::string root = scratch.Sub("src");
  MakeDirs(scratch.Sub("src/sub"));
  WriteFileBytes(scratch.Sub("src/sub/a.txt"), "a");
  std::error_code error;
  // A link back up the tree: followed, it would never end.
  std::filesystem::create_directory_symlink(root, scratch.Sub("src/sub/loop"), error);
  if (error) GTEST_SKIP() << "no directory links here: " << error.message();
  // A link to a directory elsewhere is walked as that directory.
  MakeDirs(scratch.Sub("elsewhere/deeper"));
  WriteFileBytes(scratch.Sub("elsewhere/deeper/e.txt"), "e");
  std::filesystem::create_directory_symlink(scratch.Sub("elsewhere"), scratch.Sub("src/linked"));
  CFileVersion version;
  version.ScanDirectory(root.c_str());
  EXPECT_EQ(ScannedPaths(version, root), (Strings{"linked/deeper/e.txt", "sub/a.txt"}));
  EXPECT_EQ(version.link_errors(),
            Strings{"Link [" + root + Sep() + "sub" + Sep() + "loop] leads back into [" + root +
                    "], which contains it"});
}

TEST(ScanDirectory, SkipsEntriesWhosePathWouldNotFitAPathBuffer) {
  ScratchDir scratch;
  // A directory whose own path leaves room for short names only.
  std::string dir = scratch.path();
  while (dir.size() < 960) dir += Sep() + std::string(40, 'd');
  dir += Sep() + std::string(1005 - dir.size() - 1, 'e');
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  std::vector<plat::DirEntry> entries;
  if (error || !plat::ListDirectory(dir, &entries)) GTEST_SKIP() << "no paths this long here";
  WriteFileBytes(dir + Sep() + "short", "s");
  WriteFileBytes(dir + Sep() + std::string(30, 'n'), "n");
  CFileVersion version;
  version.ScanDirectory(dir.c_str());
  ASSERT_EQ(version.scan_list().size(), 1u);
  EXPECT_EQ(version.scan_list()[0].path, dir + Sep() + "short");
}

}  // namespace

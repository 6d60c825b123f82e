// `filedist build` run as a user runs it: the real program copied into a
// packer directory of its own, since Filters.ini, VerComp.dat, Ver and
// BuildVer.log belong to the directory the program lies in.
#include "e2e/build_release_fixture.h"
#include "fileio/gzip_compress.h"
#include "protocol/patch_dir_name.h"

#include <cstdlib>
#include <fstream>

namespace {

using namespace build_e2e;

TEST_F(BuildRelease, ReleasesEveryUnfilteredFileWithItsListAndKey) {
  Strings printed;
  std::string patch = BuildOk({"--log-level", "3"}, &printed);
  std::string releases = Packer("releases") + Sep();
  ASSERT_EQ(patch.compare(0, releases.size(), releases), 0) << patch;
  EXPECT_TRUE(IsPatchDirName(patch.substr(releases.size()))) << patch;

  // The patch directory holds the released files, the list, the key and
  // the manifest.
  Strings expected_files = {"Manifest", "Ver", "VerComp.dat"};
  for (const SourceFile& file : files_) {
    if (file.released) expected_files.push_back(file.relative);
  }
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(FilesBelow(patch), expected_files);

  // Each file expands to its source; the list names it with the plain
  // file's key and the compressed file's size, in scan order.
  Strings contents;
  for (const SourceFile& file : files_) {
    if (file.released) contents.push_back(file.content);
  }
  const Strings keys = KeysOfBytes(contents);
  std::string list;
  Strings md5_lines, compress_lines;
  size_t keyed = 0;
  for (const SourceFile& file : files_) {
    if (!file.released) continue;
    std::string released = patch + Sep() + Native(file.relative);
    EXPECT_TRUE(GunzipFile(released) == file.content) << file.relative;
    std::string size = std::to_string(ReadFileBytes(released).size());
    const std::string& key = keys[keyed++];
    list += Listed(file.relative) + "," + key + "," + size + "\r\n";
    md5_lines.push_back("[INFO] : MD5 [" + Source(file.relative) + "] = " + key);
    compress_lines.push_back("[INFO] : Compress [" + Listed(file.relative) + "] = " + size);
  }
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), list);
  std::string ver = ReadFileBytes(Packer("Ver"));
  EXPECT_EQ(ver, KeyOfBytes(list) + "\r\n");
  EXPECT_EQ(ver.size(), 34u);
  EXPECT_EQ(GunzipFile(patch + Sep() + "VerComp.dat"), list);
  EXPECT_EQ(GunzipFile(patch + Sep() + "Ver"), ver);

  // Level 3 logs every keyed and every compressed file, and nothing else.
  Strings log_lines = md5_lines;
  log_lines.insert(log_lines.end(), compress_lines.begin(), compress_lines.end());
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")), log_lines);

  // Standard output: the excluded files (once per filter list that matched),
  // one line per compressed file, the patch directory.
  for (const char* name : {"app.pdb", "old.bak", "secret.pdb"}) {
    EXPECT_TRUE(Contains(printed, ExcludedLine(name))) << name;
  }
  EXPECT_EQ(std::count(printed.begin(), printed.end(), ExcludedLine("secret.pdb")), 2);
  for (const SourceFile& file : files_) {
    if (!file.released) continue;
    std::string size = std::to_string(ReadFileBytes(patch + Sep() + Native(file.relative)).size());
    EXPECT_TRUE(Contains(printed, "Compress (" + Listed(file.relative) + ") = " + size));
  }
  EXPECT_TRUE(Contains(printed, "Generate Release Patch (" + patch + ")"));

  // The temporary tree is gone after success.
  EXPECT_FALSE(FileExists(Packer("__CompressTemp__")));
}

// The packer's summary: what was released, what the filters left out, the
// bytes before and after, and where it went.
TEST_F(BuildRelease, EndsWithASummaryOfTheRelease) {
  Strings printed;
  std::string patch = BuildOk({}, &printed);
  ASSERT_GE(printed.size(), 2u);
  uint64_t plain = 0, packed = 0;
  int released = 0;
  for (const SourceFile& file : files_) {
    if (!file.released) continue;
    ++released;
    plain += file.content.size();
    packed += ReadFileBytes(patch + Sep() + Native(file.relative)).size();
  }
  std::string expected =
      "released " + std::to_string(released) +
      " files (3 left out by Filters.ini, 0 unchanged since the last release): " +
      std::to_string(plain) + " bytes, " + std::to_string(packed) + " compressed (";
  const std::string& summary = printed[printed.size() - 2];
  EXPECT_EQ(summary.compare(0, expected.size(), expected), 0) << summary;
  EXPECT_NE(summary.find(" s, into"), std::string::npos) << summary;
  EXPECT_EQ(printed.back(), patch);
}

// A file of 4 GiB and more: the summary and the JSON sum its whole size,
// not the 32 bits a list record keeps. A sparse file, but it is read whole
// to be keyed and compressed: FILEDIST_LONG_TESTS=1 runs it.
TEST_F(BuildRelease, SizesOf4GiBAndMoreAreSummedWhole) {
  const char* long_tests = std::getenv("FILEDIST_LONG_TESTS");
  if (long_tests == nullptr || std::string(long_tests) != "1") {
    GTEST_SKIP() << "reads 4 GiB; FILEDIST_LONG_TESTS=1 runs it";
  }
  fs::remove_all(source_);
  MakeDirs(source_);
  const uint64_t big = (uint64_t{1} << 32) + 10;
  {
    std::ofstream sparse(Source("big.bin"), std::ios::binary);
    sparse.seekp(static_cast<std::streamoff>(big - 1));
    sparse.put('\0');
  }
  ASSERT_EQ(fs::file_size(Source("big.bin")), big);
  Strings printed;
  BuildOk({}, &printed);
  ASSERT_GE(printed.size(), 2u);
  const std::string& summary = printed[printed.size() - 2];
  EXPECT_NE(summary.find("): " + std::to_string(big) + " bytes, "), std::string::npos) << summary;
}

TEST_F(BuildRelease, MissingSourceFailsWithItsLogLine) {
  std::string missing = scratch_.Sub("no such folder");
  std::string output;
  EXPECT_EQ(testing_support::Run({program_, "build", missing}, &output), 1);
  EXPECT_NE(output.find("does not exist"), std::string::npos) << output;
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{"[ERROR] : Create [" + missing + "] failed in [" + kGenerateStage + "]"});
  EXPECT_FALSE(FileExists(Packer("VerComp.dat")));
  EXPECT_FALSE(FileExists(Packer("releases")));
}

TEST_F(BuildRelease, EveryFileFilteredOutFailsAtTheVersionList) {
  // An empty entry (two semicolons) matches every name.
  WriteFileBytes(Packer("Filters.ini"), "[Ext]\r\n.pdb;;.bak\r\n");
  std::string output;
  EXPECT_EQ(Build({}, &output), 1);
  EXPECT_TRUE(Contains(SplitLines(output), ExcludedLine("a.txt"))) << output;
  EXPECT_TRUE(Contains(SplitLines(output), ExcludedLine("empty.dat"))) << output;
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{std::string("[ERROR] : File List is empty in [") + kWriteStage + "]"});
  EXPECT_FALSE(FileExists(Packer("VerComp.dat")));
  // The release folder was made and checked before the work, and stays empty
  // but for its lock file.
  EXPECT_EQ(testing_support::NamesIn(Packer("releases")), Strings{"Release.lock"});
}

TEST_F(BuildRelease, ReadOnlyVersionListFailsAndKeepsTheTemporaryTree) {
  WriteFileBytes(Packer("VerComp.dat"), "protected");
  SetReadOnly(Packer("VerComp.dat"), true);
  std::string output;
  EXPECT_EQ(Build({}, &output), 1);
  // The reason reaches the user, with the system's words for it.
  EXPECT_NE(output.find("error: Data2File failed for [" + Packer("VerComp.dat") + "]"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find(Sep() == '/' ? "Permission denied" : "ccess"), std::string::npos) << output;
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{"[ERROR] : Data2File failed for [" + Packer("VerComp.dat") + "] in [" +
                    kWriteStage + "]"});
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), "protected");
  EXPECT_EQ(GunzipFile(Packer("__CompressTemp__/a.txt")), "hello\r\n");
  EXPECT_EQ(testing_support::NamesIn(Packer("releases")), Strings{"Release.lock"});
}

TEST_F(BuildRelease, AnExistingPatchDirectoryIsNeverWrittenInto) {
  // The names of this second and the next are taken by earlier releases,
  // which clients may be reading, with read-only files in them.
  Strings taken = PatchNamesFromNow(2);
  for (const std::string& name : taken) {
    std::string dir = Packer("releases/" + name);
    MakeDirs(dir);
    for (const char* stale : {"a.txt", "Ver"}) {
      WriteFileBytes(dir + Sep() + stale, "earlier release");
      SetReadOnly(dir + Sep() + stale, true);
    }
  }
  // Two builds in a row, within a second or two of each other.
  std::string first = BuildOk({});
  std::string second = BuildOk({});
  std::string releases = Packer("releases") + Sep();
  for (const std::string& patch : {first, second}) {
    ASSERT_EQ(patch.compare(0, releases.size(), releases), 0) << patch;
    std::string name = patch.substr(releases.size());
    EXPECT_TRUE(IsPatchDirName(name)) << name;
    EXPECT_FALSE(Contains(taken, name)) << name;
    EXPECT_EQ(GunzipFile(patch + Sep() + "a.txt"), "hello\r\n");
  }
  EXPECT_NE(first, second);
  for (const std::string& name : taken) {
    for (const char* stale : {"a.txt", "Ver"}) {
      EXPECT_EQ(ReadFileBytes(Packer("releases/" + name) + Sep() + stale), "earlier release");
    }
    EXPECT_EQ(FilesBelow(Packer("releases/" + name)), (Strings{"Ver", "a.txt"}));
  }
}

TEST_F(BuildRelease, OutputInsideTheSourceTreeIsNeverReleased) {
  // Left by an earlier failed build and an earlier release.
  MakeDirs(Source("__CompressTemp__"));
  WriteFileBytes(Source("__CompressTemp__/stale.txt"), "stale");
  MakeDirs(Source("releases/Patch_20090630_170509"));
  WriteFileBytes(Source("releases/Patch_20090630_170509/old.txt"), "old");
  WriteFileBytes(Source("releases/notes.txt"), "a file of the release folder itself");

  Strings options = {"--out", source_, "--releases", Source("releases")};
  BuildOk(options);
  std::string second = BuildOk(options);

  Strings listed;
  for (const std::string& line : SplitLines(ReadFileBytes(Packer("VerComp.dat")))) {
    listed.push_back(line.substr(0, line.find(',')));
  }
  Strings expected = {Listed("releases/notes.txt")};
  for (const SourceFile& file : files_) {
    if (file.released) expected.push_back(Listed(file.relative));
  }
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);
  EXPECT_FALSE(FileExists(Source("__CompressTemp__")));
  EXPECT_TRUE(FileExists(second + Sep() + Native("releases/notes.txt")));
}

// A source tree that is the temporary tree, or lies inside it, may name
// source files as destinations, and the temporary tree goes after a build:
// the build is refused before it writes or removes anything, whether or not
// any name would collide.
TEST_F(BuildRelease, SourceInsideTheTemporaryTreeLosesNothing) {
  struct Case {
    const char* name;
    const char* below;  // the source folder below the temporary tree, if any
    bool nested;        // the source holds a copy of itself in its folder `below`
    int status;
  };
  const Case cases[] = {
      {"the tree itself", nullptr, false, 1},
      // sub/a.txt would be compressed onto sub/sub/a.txt's destination.
      {"a folder inside it with its own name inside", "sub", true, 1},
      {"a folder inside it", "sub", false, 1},
  };
  int round = 0;
  for (const Case& c : cases) {
    std::string work = scratch_.Sub("work" + std::to_string(++round));
    std::string source = work + Sep() + "__CompressTemp__";
    if (c.below != nullptr) source += Sep() + std::string(c.below);
    std::vector<std::string> copies = {source};
    if (c.nested) copies.push_back(source + Sep() + c.below);
    for (const std::string& copy : copies) {
      for (const SourceFile& file : files_) {
        std::string path = copy + Sep() + Native(file.relative);
        MakeDirs(path.substr(0, path.find_last_of(Sep())));
        WriteFileBytes(path, file.content);
      }
    }
    const Strings before = FilesBelow(source);
    std::vector<std::string> contents;
    for (const std::string& file : before)
      contents.push_back(ReadFileBytes(source + Sep() + Native(file)));

    std::string output;
    std::string releases = scratch_.Sub("rel" + std::to_string(round));
    EXPECT_EQ(testing_support::Run(
                  {program_, "build", source, "--out", work, "--releases", releases}, &output),
              c.status)
        << c.name << "\n"
        << output;
    ASSERT_EQ(FilesBelow(source), before) << c.name;
    for (size_t i = 0; i < before.size(); ++i) {
      EXPECT_TRUE(ReadFileBytes(source + Sep() + Native(before[i])) == contents[i])
          << c.name << ": " << before[i];
    }
    EXPECT_EQ(FileExists(releases), c.status == 0) << c.name;
  }
}

TEST_F(BuildRelease, UsageErrors) {
  const Strings cases[] = {
      {program_, "build"},
      {program_, "build", source_, "--log-level", "7"},
      {program_, "build", source_, "--out"},
      {program_, "build", source_, "--bogus", "x"},
      {program_, "build", source_, source_},
  };
  for (const Strings& argv : cases) {
    std::string output;
    EXPECT_EQ(testing_support::Run(argv, &output), 2) << argv.back();
    EXPECT_NE(output.find("usage: filedist build"), std::string::npos);
  }
  EXPECT_FALSE(FileExists(Packer("VerComp.dat")));
}

TEST_F(BuildVerHost, RelativeArgumentsResolveAgainstTheHostDirectory) {
  // The source tree moved into the packer directory: "src" means
  // packer/src, wherever the host runs from.
  fs::rename(source_, Packer("src"));
  std::string line = BuildVerInPacker(1, "src", "work", "out/releases");
  std::string prefix = "BUILD=1 " + Packer("out/releases") + Sep();
  ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
  std::string patch = line.substr(std::strlen("BUILD=1 "));
  EXPECT_EQ(GunzipFile(patch + Sep() + "a.txt"), "hello\r\n");
  EXPECT_TRUE(FileExists(Packer("work")));
  EXPECT_FALSE(FileExists(Packer("work/__CompressTemp__")));
  EXPECT_TRUE(LogLinesWithoutTime(Packer("BuildVer.log")).empty());
}

TEST_F(BuildVerHost, NullArgumentsFailWithTheirLines) {
  EXPECT_EQ(BuildVerInPacker(1, nullptr, "work", "rel"), "BUILD=0 ");
  EXPECT_EQ(BuildVerInPacker(1, source_.c_str(), "work", nullptr), "BUILD=0 ");
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            (Strings{std::string("[ERROR] : [") + kGenerateStage + "] failed.",
                     "[ERROR] : releaseDir [] is empty in [CFileVersion::GenerateReleasePatch]"}));
  // A missing release folder is found before the work, not after it.
  EXPECT_FALSE(FileExists(Packer("work/__CompressTemp__")));
  EXPECT_FALSE(FileExists(Packer("VerComp.dat")));
  EXPECT_FALSE(FileExists(Packer("rel")));
}

TEST_F(BuildVerHost, CompressingAMissingSourceLogsItsLine) {
  std::string missing = scratch_.Sub("missing.bin");
  std::string packed = scratch_.Sub("packed.gz");
  {
    StartupDirIn host(packer_);
    SetLogLevel(1);
    EXPECT_EQ(IOUtil_CompressFile(missing.c_str(), packed.c_str()), -1);
  }
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{"[ERROR] : Open Src File [" + missing + "] Fail!"});
  EXPECT_EQ(GunzipFile(packed), "");
}

}  // namespace

// `filedist build` run as a user runs it: the real program copied into a
// packer directory of its own, since Filters.ini, VerComp.dat, Ver and
// BuildVer.log belong to the directory the program lies in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "build/release_dirs.h"
#include "platform/platform.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::GunzipFile;
using testing_support::KeyOfBytes;
using testing_support::LogLinesWithoutTime;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::SetReadOnly;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;

const char kGenerateStage[] = "CFileVersion::GenerateFileVersionInfo";
const char kWriteStage[] = "CFileVersion::WriteFileVersionInfo";

std::string Native(const std::string& relative) {
  std::string path = relative;
  std::replace(path.begin(), path.end(), '/', Sep());
  return path;
}

std::string Listed(const std::string& relative) {
  std::string path = ".\\" + relative;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string ExcludedLine(const std::string& name) {
  return "\xCE\xC4\xBC\xFE [" + name + "] \xB8\xF9\xBE\xDD" "Filters.ini" "\xB1\xBB\xB9\xFD\xC2\xCB";
}

// Every file below dir, as relative paths with '/'.
Strings FilesBelow(const std::string& dir) {
  Strings files;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::string relative = fs::relative(entry.path(), dir).generic_string();
    files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool Contains(const Strings& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Names of the patch directories the next `seconds` seconds would get.
Strings PatchNamesFromNow(int seconds) {
  plat::LocalTime now = plat::GetLocalTimeNow();
  Strings names;
  for (int k = 0; k < seconds; ++k) {
    std::tm t = {};
    t.tm_year = now.year - 1900;
    t.tm_mon = now.month - 1;
    t.tm_mday = now.day;
    t.tm_hour = now.hour;
    t.tm_min = now.minute;
    t.tm_sec = now.second + k;
    t.tm_isdst = -1;
    std::mktime(&t);
    names.push_back(PatchDirName(plat::LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                                 t.tm_hour, t.tm_min, t.tm_sec, 0}));
  }
  return names;
}

// A packer directory with the program, and a source tree beside it.
class BuildRelease : public ::testing::Test {
 protected:
  BuildRelease()
      : packer_(scratch_.Sub("packer")), source_(scratch_.Sub("source tree")) {
    MakeDirs(packer_);
    program_ = CopyProgramInto("filedist", packer_);
    std::mt19937 random(7);
    std::string binary(70000, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    files_ = {
        {".hidden/h.txt", "hidden\n", true},
        {"a.txt", "hello\r\n", true},
        {"bin/app.bin", binary, true},
        {"bin/app.pdb", "symbols", false},
        {"docs/notes.txt", std::string(20000, 'n'), true},
        {"docs/old.bak", "old", false},
        {"docs/secret.pdb", "secret", false},
        {"empty.dat", "", true},
    };
    for (const SourceFile& file : files_) {
      std::string path = scratch_.Sub("source tree/" + file.relative);
      MakeDirs(path.substr(0, path.find_last_of(Sep())));
      WriteFileBytes(path, file.content);
    }
    WriteFileBytes(Packer("Filters.ini"), "[Ext]\r\n.pdb;.bak\r\n[Keyword]\r\nsecret\r\n");
  }

  std::string Packer(const std::string& relative) const {
    return packer_ + Sep() + Native(relative);
  }
  std::string Source(const std::string& relative) const {
    return source_ + Sep() + Native(relative);
  }

  int Build(const Strings& options, std::string* output) {
    Strings argv = {program_, "build", source_};
    argv.insert(argv.end(), options.begin(), options.end());
    return testing_support::Run(argv, output);
  }

  // Builds successfully and gives the patch directory, the last line printed.
  std::string BuildOk(const Strings& options, Strings* lines = nullptr) {
    std::string output;
    EXPECT_EQ(Build(options, &output), 0) << output;
    Strings printed = SplitLines(output);
    if (lines != nullptr) *lines = printed;
    return printed.empty() ? std::string() : printed.back();
  }

  struct SourceFile {
    std::string relative;
    std::string content;
    bool released;
  };

  ScratchDir scratch_;
  std::string packer_;
  std::string source_;
  std::string program_;
  std::vector<SourceFile> files_;
};

TEST_F(BuildRelease, ReleasesEveryUnfilteredFileWithItsListAndKey) {
  Strings printed;
  std::string patch = BuildOk({"--log-level", "3"}, &printed);
  std::string releases = Packer("releases") + Sep();
  ASSERT_EQ(patch.compare(0, releases.size(), releases), 0) << patch;
  EXPECT_TRUE(IsPatchDirName(patch.substr(releases.size()))) << patch;

  // The patch directory holds the released files, the list and the key.
  Strings expected_files = {"Ver", "VerComp.dat"};
  for (const SourceFile& file : files_) {
    if (file.released) expected_files.push_back(file.relative);
  }
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(FilesBelow(patch), expected_files);

  // Each file expands to its source; the list names it with the plain
  // file's key and the compressed file's size, in scan order.
  std::string list;
  Strings md5_lines, compress_lines;
  for (const SourceFile& file : files_) {
    if (!file.released) continue;
    std::string released = patch + Sep() + Native(file.relative);
    EXPECT_TRUE(GunzipFile(released) == file.content) << file.relative;
    std::string size = std::to_string(ReadFileBytes(released).size());
    list += Listed(file.relative) + "," + KeyOfBytes(file.content) + "," + size + "\r\n";
    md5_lines.push_back("[INFO] : MD5 [" + Source(file.relative) + "] = " + KeyOfBytes(file.content));
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
  EXPECT_FALSE(FileExists(Packer("releases")));
}

TEST_F(BuildRelease, ReadOnlyVersionListFailsAndKeepsTheTemporaryTree) {
  WriteFileBytes(Packer("VerComp.dat"), "protected");
  SetReadOnly(Packer("VerComp.dat"), true);
  std::string output;
  EXPECT_EQ(Build({}, &output), 1);
  EXPECT_NE(output.find("BuildVer.log"), std::string::npos) << output;
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{"[ERROR] : Data2File failed for [" + Packer("VerComp.dat") + "] in [" +
                    kWriteStage + "]"});
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), "protected");
  EXPECT_EQ(GunzipFile(Packer("__CompressTemp__/a.txt")), "hello\r\n");
  EXPECT_FALSE(FileExists(Packer("releases")));
}

TEST_F(BuildRelease, ReadOnlyFileLeftInThePatchDirectoryIsReplaced) {
  // Whichever second the build lands in, its patch directory already holds
  // read-only files from an "earlier run".
  for (const std::string& name : PatchNamesFromNow(90)) {
    std::string dir = Packer("releases/" + name);
    MakeDirs(dir + Sep() + "bin");
    for (const char* stale : {"a.txt", "bin/app.bin", "Ver"}) {
      std::string path = dir + Sep() + Native(stale);
      WriteFileBytes(path, "stale");
      SetReadOnly(path, true);
    }
  }
  std::string patch = BuildOk({});
  ASSERT_TRUE(FileExists(patch + Sep() + "VerComp.dat")) << patch;
  EXPECT_EQ(GunzipFile(patch + Sep() + "a.txt"), "hello\r\n");
  EXPECT_EQ(GunzipFile(patch + Sep() + Native("bin/app.bin")), files_[2].content);
  EXPECT_EQ(GunzipFile(patch + Sep() + "Ver"), ReadFileBytes(Packer("Ver")));
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
// source files as destinations: the build must fail before it writes over
// any of them. Where none collides the release is made, but the temporary
// tree, which holds the source, stays.
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
      {"a folder inside it", "sub", false, 0},
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
    for (const std::string& file : before) contents.push_back(ReadFileBytes(source + Sep() + Native(file)));

    std::string output;
    std::string releases = scratch_.Sub("rel" + std::to_string(round));
    EXPECT_EQ(testing_support::Run(
                  {program_, "build", source, "--out", work, "--releases", releases}, &output),
              c.status)
        << c.name << "\n" << output;
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

// BuildVer called directly by a host: relative arguments, null arguments.
class BuildVerHost : public BuildRelease {
 protected:
  BuildVerHost() { host_ = CopyProgramInto("test_host", packer_); }

  Strings Host(const Strings& steps) {
    Strings argv = {host_};
    argv.insert(argv.end(), steps.begin(), steps.end());
    std::string output;
    EXPECT_EQ(testing_support::Run(argv, &output), 0) << output;
    Strings build_lines;
    for (const std::string& line : SplitLines(output)) {
      if (line.compare(0, 6, "BUILD=") == 0 || line == "-1" || line == "0") {
        build_lines.push_back(line);
      }
    }
    return build_lines;
  }

  std::string host_;
};

TEST_F(BuildVerHost, RelativeArgumentsResolveAgainstTheHostDirectory) {
  // The source tree moved into the packer directory: "src" means
  // packer/src, wherever the host runs from.
  fs::rename(source_, Packer("src"));
  Strings lines = Host({"level", "1", "buildver", "src", "work", "out/releases"});
  ASSERT_EQ(lines.size(), 1u);
  std::string prefix = "BUILD=1 " + Packer("out/releases") + Sep();
  ASSERT_EQ(lines[0].compare(0, prefix.size(), prefix), 0) << lines[0];
  std::string patch = lines[0].substr(std::strlen("BUILD=1 "));
  EXPECT_EQ(GunzipFile(patch + Sep() + "a.txt"), "hello\r\n");
  EXPECT_TRUE(FileExists(Packer("work")));
  EXPECT_FALSE(FileExists(Packer("work/__CompressTemp__")));
  EXPECT_TRUE(LogLinesWithoutTime(Packer("BuildVer.log")).empty());
}

TEST_F(BuildVerHost, NullArgumentsFailWithTheirLines) {
  EXPECT_EQ(Host({"level", "1", "buildver", "-", "work", "rel"}), Strings{"BUILD=0 "});
  EXPECT_EQ(Host({"level", "1", "buildver", source_, "work", "-"}), Strings{"BUILD=0 "});
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            (Strings{std::string("[ERROR] : [") + kGenerateStage + "] failed.",
                     "[ERROR] : releaseDir [] is empty in [CFileVersion::GenerateReleasePatch]"}));
  // The failed last stage leaves the temporary tree for a look.
  EXPECT_EQ(GunzipFile(Packer("work/__CompressTemp__/a.txt")), "hello\r\n");
  EXPECT_FALSE(FileExists(Packer("rel")));
}

TEST_F(BuildVerHost, CompressingAMissingSourceLogsItsLine) {
  std::string missing = scratch_.Sub("missing.bin");
  std::string packed = scratch_.Sub("packed.gz");
  EXPECT_EQ(Host({"level", "1", "compress", missing, packed}), Strings{"-1"});
  EXPECT_EQ(LogLinesWithoutTime(Packer("BuildVer.log")),
            Strings{"[ERROR] : Open Src File [" + missing + "] Fail!"});
  EXPECT_EQ(GunzipFile(packed), "");
}

}  // namespace

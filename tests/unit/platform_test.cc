// The behaviour both back ends share: these cases run natively against the
// POSIX back end and under Wine against the Win32 calls.
#include "platform/platform.h"
#include "platform/argument_quoting.h"
#include "platform/bounded_file.h"
#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "support/test_support.h"

namespace {

using testing_support::NamesIn;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

// Each case is what the C runtime's splitting turns back into the argument
// (the rules of "Parsing C command-line arguments"): a wrong count of
// backslashes before a quote, or none doubled before the closing quote,
// hands a child another argument than the one meant.
TEST(PlatformCommandLine, QuotesArgumentsSoTheChildSplitsThemBack) {
  const struct {
    const char* arg;
    const char* quoted;
  } cases[] = {
      {"plain", "plain"},
      {"C:\\dir\\file.txt", "C:\\dir\\file.txt"},  // backslashes alone stay as they are
      {"", "\"\""},                                // an empty argument still counts
      {"two words", "\"two words\""},
      {"tab\tinside", "\"tab\tinside\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},            // a\"b: 2n+1 backslashes before the quote
      {"C:\\my dir\\", "\"C:\\my dir\\\\\""},  // a trailing one doubled before the closing quote
      {"x\\\\ y", "\"x\\\\ y\""},              // inside, not before a quote: unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(plat::QuoteWindowsArgument(c.arg), c.quoted) << c.arg;
}

TEST(PlatformDirectory, ListsEntriesWithKindAndSize) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("file.bin"), std::string(1234, 'x'));
  testing_support::MakeDirs(scratch.Sub("sub"));
  std::vector<plat::DirEntry> entries;
  ASSERT_TRUE(plat::ListDirectory(scratch.path(), &entries));
  ASSERT_EQ(entries.size(), 2u);  // no "." or ".."
  EXPECT_EQ(entries[0].name, "file.bin");
  EXPECT_EQ(entries[0].size, 1234u);
  EXPECT_EQ(entries[0].attributes & plat::kAttrDirectory, 0u);
  EXPECT_EQ(entries[1].name, "sub");
  EXPECT_NE(entries[1].attributes & plat::kAttrDirectory, 0u);
}

// NTFS returns a directory's names ordered by their upper-case form, so a
// release lists its files in the same order wherever it is built.
TEST(PlatformDirectory, ListsInNtfsOrder) {
  ScratchDir scratch;
  for (const char* name : {"b.txt", "A.txt", "_x", "Z", "a1", "[", "a"}) {
    WriteFileBytes(scratch.Sub(name), name);
  }
  std::vector<std::string> expected = {"a", "A.txt", "a1", "b.txt", "Z", "[", "_x"};
  EXPECT_EQ(NamesIn(scratch.path()), expected);
}

TEST(PlatformDirectory, MissingDirectoryCannotBeListed) {
  ScratchDir scratch;
  std::vector<plat::DirEntry> entries;
  EXPECT_FALSE(plat::ListDirectory(scratch.Sub("missing"), &entries));
}

TEST(PlatformDirectory, AcceptsBothSeparators) {
  ScratchDir scratch;
  testing_support::MakeDirs(scratch.Sub("a/b"));
  WriteFileBytes(scratch.Sub("a/b/c.txt"), "c");
  EXPECT_EQ(NamesIn(scratch.path() + "\\a\\b"), std::vector<std::string>{"c.txt"});
  EXPECT_EQ(NamesIn(scratch.path() + "/a/b"), std::vector<std::string>{"c.txt"});
  EXPECT_TRUE(plat::PathExists((scratch.path() + "\\a/b\\c.txt").c_str()));
}

TEST(PlatformFiles, AttributesAndNormalising) {
  ScratchDir scratch;
  std::string file = scratch.Sub("ro.txt");
  WriteFileBytes(file, "x");
  uint32_t attributes = 0;
  ASSERT_TRUE(plat::GetAttributes(file.c_str(), &attributes));
  EXPECT_EQ(attributes & plat::kAttrReadOnly, 0u);

  SetReadOnly(file, true);
  ASSERT_TRUE(plat::GetAttributes(file.c_str(), &attributes));
  EXPECT_NE(attributes & plat::kAttrReadOnly, 0u);
  // A read-only file is refused for writing, whoever the caller is.
  EXPECT_EQ(plat::OpenFile(file.c_str(), "wb"), nullptr);
  EXPECT_EQ(plat::OpenFile(file.c_str(), "ab"), nullptr);
  FILE* reader = plat::OpenFile(file.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  std::fclose(reader);

  ASSERT_TRUE(plat::SetAttributesNormal(file.c_str()));
  ASSERT_TRUE(plat::GetAttributes(file.c_str(), &attributes));
  EXPECT_EQ(attributes & plat::kAttrReadOnly, 0u);
  EXPECT_FALSE(plat::GetAttributes(scratch.Sub("missing").c_str(), &attributes));
}

TEST(PlatformFiles, MakeAndRemoveDirectories) {
  ScratchDir scratch;
  std::string dir = scratch.Sub("made");
  EXPECT_EQ(plat::MakeOneDirectory(dir.c_str()), plat::MakeDirResult::kCreated);
  EXPECT_EQ(plat::MakeOneDirectory(dir.c_str()), plat::MakeDirResult::kAlreadyExists);
  EXPECT_EQ(plat::MakeOneDirectory(scratch.Sub("no/parent").c_str()), plat::MakeDirResult::kFailed);
  WriteFileBytes(dir + Sep() + "f", "f");
  EXPECT_FALSE(plat::RemoveEmptyDirectory(dir.c_str()));
  EXPECT_TRUE(plat::RemoveFile((dir + Sep() + "f").c_str()));
  EXPECT_TRUE(plat::RemoveEmptyDirectory(dir.c_str()));
  EXPECT_FALSE(plat::PathExists(dir.c_str()));
}

TEST(PlatformFiles, CopyAndReplace) {
  ScratchDir scratch;
  std::string a = scratch.Sub("a");
  std::string b = scratch.Sub("b");
  WriteFileBytes(a, std::string("one\0two", 7));
  WriteFileBytes(b, "old contents that are longer");
  ASSERT_TRUE(plat::CopyFileOver(a.c_str(), b.c_str()));
  EXPECT_EQ(ReadFileBytes(b), std::string("one\0two", 7));
  EXPECT_FALSE(plat::CopyFileOver(scratch.Sub("missing").c_str(), b.c_str()));

  std::string c = scratch.Sub("c");
  WriteFileBytes(c, "new");
  ASSERT_TRUE(plat::ReplaceFileAtomically(c.c_str(), b.c_str()));
  EXPECT_EQ(ReadFileBytes(b), "new");
  EXPECT_FALSE(plat::PathExists(c.c_str()));

  // A read-only target is protected from both.
  WriteFileBytes(c, "newer");
  SetReadOnly(b, true);
  EXPECT_FALSE(plat::ReplaceFileAtomically(c.c_str(), b.c_str()));
  EXPECT_FALSE(plat::CopyFileOver(c.c_str(), b.c_str()));
  EXPECT_EQ(ReadFileBytes(b), "new");
  EXPECT_FALSE(plat::RemoveFile(b.c_str()));
}

// A small file is read whole or not at all: one longer than the limit,
// by a byte or by more than one read, is refused and the caller's text kept,
// never cut to a prefix that could still pass for a pointer or a record.
TEST(PlatformFiles, BoundedReadRefusesAFileOverTheLimit) {
  ScratchDir scratch;
  struct Case {
    size_t size;
    size_t limit;
    bool read;
  } cases[] = {
      {0, 0, true},         {5, 5, true},          {6, 5, false},
      {20000, 20000, true}, {20001, 20000, false}, {40000, 256, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes, limit " + std::to_string(c.limit));
    std::string path = scratch.Sub("f" + std::to_string(c.size));
    std::string bytes(c.size, 'x');
    for (size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>('a' + i % 26);
    WriteFileBytes(path, bytes);
    for (bool follow : {true, false}) {
      std::string text = "kept";
      EXPECT_EQ(plat::ReadBoundedFile(path, c.limit, &text, follow), c.read);
      EXPECT_EQ(text, c.read ? bytes : std::string("kept"));
    }
  }
  std::string text;
  EXPECT_FALSE(plat::ReadBoundedFile(scratch.Sub("missing"), 100, &text));
}

TEST(PlatformPaths, RelativeTest) {
  EXPECT_TRUE(plat::IsRelativePath("rel"));
  EXPECT_TRUE(plat::IsRelativePath(".\\data\\a.txt"));
  EXPECT_FALSE(plat::IsRelativePath("\\root"));
  ScratchDir scratch;
  EXPECT_FALSE(plat::IsRelativePath(scratch.path().c_str()));
}

TEST(PlatformPaths, CombineJoinsAndNormalises) {
  ScratchDir scratch;
  const std::string& base = scratch.path();
  struct Case {
    const char* rel;
    std::string expected;
  };
  const Case cases[] = {
      {".\\data\\a.txt", base + Sep() + "data" + Sep() + "a.txt"},
      {"data/a.txt", base + Sep() + "data" + Sep() + "a.txt"},
      {"x\\..\\y\\.\\z", base + Sep() + "y" + Sep() + "z"},
      {"rel", base + Sep() + "rel"},
  };
  for (const Case& c : cases) {
    std::string combined;
    ASSERT_TRUE(plat::CombinePath(base.c_str(), c.rel, &combined)) << c.rel;
    EXPECT_EQ(combined, c.expected) << c.rel;
  }
  // An absolute second part stands alone.
  std::string combined;
  ASSERT_TRUE(plat::CombinePath("elsewhere", base.c_str(), &combined));
  EXPECT_EQ(combined, base);
}

TEST(PlatformPaths, CombineRefusesOverlongResults) {
  ScratchDir scratch;
  std::string long_name(1100, 'n');
  std::string combined = "unchanged";
  EXPECT_FALSE(plat::CombinePath(scratch.path().c_str(), long_name.c_str(), &combined));
  EXPECT_EQ(combined, "unchanged");
}

TEST(PlatformPaths, RelativePathBetweenDirectoryAndFile) {
  ScratchDir scratch;
  const std::string& base = scratch.path();
  struct Case {
    std::string dir;
    std::string file;
    const char* expected;
  };
  const Case cases[] = {
      {base + Sep() + "Rel", base + Sep() + "Rel" + Sep() + "data" + Sep() + "a.txt",
       ".\\data\\a.txt"},
      {base + Sep() + "Rel", base + Sep() + "Rel" + Sep() + "a.txt", ".\\a.txt"},
      // The comparison ignores letter case, component by component.
      {base + Sep() + "REL", base + Sep() + "rel" + Sep() + "a.txt", ".\\a.txt"},
      {base + Sep() + "Rel", base + Sep() + "Other" + Sep() + "a.txt", "..\\Other\\a.txt"},
      {base + Sep() + "Rel", base + Sep() + "Release" + Sep() + "a.txt", "..\\Release\\a.txt"},
  };
  for (const Case& c : cases) {
    std::string relative;
    ASSERT_TRUE(plat::RelativePathTo(c.dir.c_str(), c.file.c_str(), &relative)) << c.file;
    EXPECT_EQ(relative, c.expected) << c.dir << " -> " << c.file;
  }
}

TEST(PlatformIni, ReadsSectionsAsTheProfileFunctionsDo) {
  ScratchDir scratch;
  std::string ini = scratch.Sub("Filters.ini");
  WriteFileBytes(ini,
                 "[Ext]\r\n.pdb;.ilk;.bak\r\n.second\r\n"
                 "[file]\r\nthumbs.db\r\n"
                 "[Empty]\r\n"
                 "[Keyword]\r\n  padded;entry  \r\n"
                 "[Commented]\r\n; a note\r\n\r\n.log;.tmp\r\n");
  struct Case {
    const char* section;
    std::string first_line;
  };
  const Case cases[] = {
      {"Ext", ".pdb;.ilk;.bak"},
      {"File", "thumbs.db"},  // section names ignore case
      {"Keyword", "padded;entry"},
      {"Empty", ""},
      {"Commented", ".log;.tmp"},  // comment and blank lines are not lines
      {"Missing", ""},
  };
  for (const Case& c : cases) {
    std::string section = plat::ReadIniSection(ini.c_str(), c.section, 4096);
    EXPECT_EQ(std::string(section.c_str()), c.first_line) << c.section;
  }
  std::string ext = plat::ReadIniSection(ini.c_str(), "Ext", 4096);
  EXPECT_EQ(ext, std::string(".pdb;.ilk;.bak\0.second\0", 23));
  EXPECT_EQ(plat::ReadIniSection(scratch.Sub("none.ini").c_str(), "Ext", 4096), "");
}

// Found by fuzzing: two lines that fill the buffer to its last byte, then a
// third, once came back longer than the capacity.
TEST(PlatformIni, SectionStaysWithinItsCapacity) {
  ScratchDir scratch;
  std::string ini = scratch.Sub("full.ini");
  WriteFileBytes(ini, "[S]\r\nabcdefg\r\nhijklm\r\nxyz\r\n");
  // 7 + 1 and 6 + 1 bytes: the two lines take 15 of the 16.
  for (size_t capacity : {size_t{16}, size_t{15}, size_t{10}, size_t{9}}) {
    std::string section = plat::ReadIniSection(ini.c_str(), "S", capacity);
    EXPECT_LE(section.size() + 1, capacity) << capacity;
    EXPECT_EQ(std::string(section.c_str()), "abcdefg") << capacity;
  }
}

TEST(PlatformProcess, ExecutablePathAndClock) {
  std::string exe;
  ASSERT_TRUE(plat::GetExecutablePath(&exe));
  EXPECT_NE(exe.find("unit_tests"), std::string::npos);
  EXPECT_FALSE(plat::IsRelativePath(exe.c_str()));
  plat::LocalTime now = plat::GetLocalTimeNow();
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

// A program that ends while a process it started holds its output on: the
// call returns at the program's end with all it wrote. The Windows case,
// which starts its own programs, is Win32RunProgram's.
TEST(PlatformProcess, RunProgramReturnsAtTheProgramsEndNotItsChildrens) {
  if (std::string(plat::kExecutableSuffix) == ".exe") GTEST_SKIP() << "needs a Unix shell";
  ScratchDir scratch;
  const std::string release = scratch.Sub("release");
  // The child waits at most 20 seconds for the file that lets it go.
  const std::string command = "(i=0; while [ ! -e '" + release +
                              "' ] && [ $i -lt 200 ]; do sleep 0.1; i=$((i+1)); done) &"
                              " echo started; exit 3";
  std::string output;
  auto start = std::chrono::steady_clock::now();
  int status = plat::RunProgram({"/bin/sh", "-c", command}, &output);
  auto took = std::chrono::steady_clock::now() - start;
  WriteFileBytes(release, "");
  EXPECT_EQ(status, 3) << output;
  EXPECT_EQ(output, "started\n");
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 15) << output;
}

// One holder at a time, the lock free again once its holder lets go, and a
// lock file that cannot be made reported as such rather than as busy.
TEST(PlatformFileLock, OneHolderAtATime) {
  ScratchDir scratch;
  const std::string path = scratch.Sub("run.lock");
  plat::FileLock first, second;
  ASSERT_EQ(first.Acquire(path), plat::LockResult::kAcquired);
  EXPECT_EQ(second.Acquire(path), plat::LockResult::kBusy);
  EXPECT_FALSE(second.held());
  first.Release();
  EXPECT_EQ(second.Acquire(path), plat::LockResult::kAcquired);

  plat::FileLock nowhere;
  EXPECT_EQ(nowhere.Acquire(scratch.Sub("missing") + Sep() + "run.lock"),
            plat::LockResult::kFailed);
}

}  // namespace

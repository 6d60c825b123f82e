#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common.h"
#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::NamesIn;
using testing_support::RandomBytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

// Text that compresses well but spans several 32768-byte pieces both ways.
std::string LongText(size_t length) {
  std::string text;
  for (size_t i = 0; text.size() < length; ++i) text += "line " + std::to_string(i) + "\n";
  text.resize(length);
  return text;
}

std::string Corrupted(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x5a);
  return bytes;
}

TEST(MakeClientFile, DecodesWhatZlibWrote) {
  const std::string text = LongText(200000);
  const std::string noise = RandomBytes(100000, 7);
  struct Case {
    const char* name;
    std::string source;
    std::string expected;
  };
  const Case cases[] = {
      {"empty member", testing_support::ZlibGzip(""), ""},
      {"short text", testing_support::ZlibGzip("abc"), "abc"},
      {"several pieces", testing_support::ZlibGzip(text), text},
      {"incompressible", testing_support::ZlibGzip(noise), noise},
      {"two members", testing_support::ZlibGzip("first ") + testing_support::ZlibGzip(text),
       "first " + text},
      {"garbage after the member", testing_support::ZlibGzip("abc") + "trailing garbage", "abc"},
      {"plain text", "not compressed at all", "not compressed at all"},
      {"plain binary", noise.substr(1), noise.substr(1)},
      {"zero bytes", "", ""},
      {"one magic byte", "\x1f", "\x1f"},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    std::string src = scratch.Sub("fetched.gz");
    std::string dst = scratch.Sub("file.bin");
    WriteFileBytes(src, c.source);
    EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 1) << c.name;
    ASSERT_TRUE(FileExists(dst)) << c.name;
    EXPECT_TRUE(ReadFileBytes(dst) == c.expected) << c.name;
    EXPECT_EQ(NamesIn(scratch.path()), (std::vector<std::string>{"fetched.gz", "file.bin"}))
        << c.name;
  }
}

// A damaged or cut-off download must never replace a working file.
TEST(MakeClientFile, DamagedDataLeavesTheTargetAlone) {
  const std::string text = LongText(100000);
  const std::string good = testing_support::ZlibGzip(text);
  const std::string small = testing_support::ZlibGzip("hello, world");
  struct Case {
    const char* name;
    std::string source;
  };
  const Case cases[] = {
      {"crc flipped", Corrupted(good, good.size() - 6)},
      {"length flipped", Corrupted(good, good.size() - 2)},
      {"deflate data flipped", Corrupted(good, 40)},
      {"cut inside the data", good.substr(0, good.size() / 2)},
      {"cut inside the trailer", good.substr(0, good.size() - 3)},
      {"trailer missing", good.substr(0, good.size() - 8)},
      {"header only", good.substr(0, 10)},
      {"magic only", good.substr(0, 2)},
      {"second member cut", small + good.substr(0, good.size() - 1)},
      {"bad method", Corrupted(small, 2)},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    std::string src = scratch.Sub("fetched.gz");
    std::string dst = scratch.Sub("file.txt");
    WriteFileBytes(src, c.source);
    WriteFileBytes(dst, "the old version");
    EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 0) << c.name;
    EXPECT_EQ(ReadFileBytes(dst), "the old version") << c.name;
    EXPECT_EQ(NamesIn(scratch.path()), (std::vector<std::string>{"fetched.gz", "file.txt"}))
        << c.name;

    // A damaged file where no target was before creates no target either.
    std::string fresh = scratch.Sub("fresh.txt");
    EXPECT_EQ(MakeClientFile(src.c_str(), fresh.c_str()), 0) << c.name;
    EXPECT_FALSE(FileExists(fresh)) << c.name;
  }
}

TEST(MakeClientFile, CreatesMissingDirectories) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  WriteFileBytes(src, testing_support::ZlibGzip("nested"));
  std::string dst = scratch.Sub("c/sub/deeper/x.dat");
  EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(dst), "nested");

  // Either separator may be used in the target path.
  std::string mixed = scratch.path() + "\\d\\e/y.dat";
  EXPECT_EQ(MakeClientFile(src.c_str(), mixed.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(scratch.Sub("d/e/y.dat")), "nested");
}

TEST(MakeClientFile, MissingSourceTouchesNothing) {
  ScratchDir scratch;
  std::string dst = scratch.Sub("new/dir/x.dat");
  EXPECT_EQ(MakeClientFile(scratch.Sub("absent.gz").c_str(), dst.c_str()), 0);
  EXPECT_FALSE(FileExists(scratch.Sub("new")));

  std::string existing = scratch.Sub("kept.txt");
  WriteFileBytes(existing, "kept");
  EXPECT_EQ(MakeClientFile(scratch.Sub("absent.gz").c_str(), existing.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(existing), "kept");

  EXPECT_EQ(MakeClientFile(nullptr, existing.c_str()), 0);
  EXPECT_EQ(MakeClientFile(existing.c_str(), nullptr), 0);
  EXPECT_EQ(ReadFileBytes(existing), "kept");
}

TEST(MakeClientFile, ReplacesReadOnlyTarget) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  std::string dst = scratch.Sub("locked.dll");
  WriteFileBytes(src, testing_support::ZlibGzip("new contents"));
  WriteFileBytes(dst, "old contents");
  SetReadOnly(dst, true);
  EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(dst), "new contents");

  // A damaged download leaves a read-only target read-only and unchanged.
  WriteFileBytes(src, testing_support::ZlibGzip("newer").substr(0, 12));
  SetReadOnly(dst, true);
  EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(dst), "new contents");
  FILE* writable = plat::OpenFile(dst.c_str(), "ab");
  EXPECT_EQ(writable, nullptr) << "the target lost its protection";
  if (writable != nullptr) std::fclose(writable);
}

TEST(MakeClientFile, UnwritableTargetIsAFailure) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  WriteFileBytes(src, testing_support::ZlibGzip("data"));
  // The target's directory would have to be where a file is.
  WriteFileBytes(scratch.Sub("blocker"), "a file, not a directory");
  std::string under_file = scratch.Sub("blocker/x.dat");
  EXPECT_EQ(MakeClientFile(src.c_str(), under_file.c_str()), 0);

  // A directory stands where the file belongs.
  MakeDirs(scratch.Sub("taken/x.dat"));
  EXPECT_EQ(MakeClientFile(src.c_str(), scratch.Sub("taken/x.dat").c_str()), 0);
  EXPECT_EQ(NamesIn(scratch.Sub("taken")), (std::vector<std::string>{"x.dat"}));
}

// Files beside the target whatever their names, even one an earlier version
// used for its own leftovers, belong to someone: none is opened, emptied or
// deleted, and a read-only one does not block the call.
TEST(MakeClientFile, FilesBesideTheTargetAreLeftAlone) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  std::string dst = scratch.Sub("file.txt");
  WriteFileBytes(src, testing_support::ZlibGzip("fresh"));
  WriteFileBytes(dst + ".~part", "someone's file");
  SetReadOnly(dst + ".~part", true);
  EXPECT_EQ(MakeClientFile(src.c_str(), dst.c_str()), 1);
  EXPECT_EQ(ReadFileBytes(dst), "fresh");
  EXPECT_EQ(ReadFileBytes(dst + ".~part"), "someone's file");
  EXPECT_EQ(NamesIn(scratch.path()),
            (std::vector<std::string>{"fetched.gz", "file.txt", "file.txt.~part"}));
  SetReadOnly(dst + ".~part", false);
}

// A target whose name is as long as the system allows is placed and
// replaced, and no temporary file stays: 255 bytes for a name on Linux, 259
// characters for the whole path on Windows, where a directory path may take
// 248 of them and leave ten for the name.
TEST(MakeClientFile, LongestNamesTheSystemAllows) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  WriteFileBytes(src, testing_support::ZlibGzip("long"));
  const bool windows = testing_support::Sep() == '\\';
  std::string deep = scratch.Sub(std::string(248 - scratch.path().size() - 1, 'd'));
  MakeDirs(deep);
  struct Case {
    std::string dir;
    size_t name_length;
  };
  const Case cases[] = {
      {scratch.path(), windows ? 259 - scratch.path().size() - 1 : 255},
      {deep, 259 - deep.size() - 1},
  };
  for (const Case& c : cases) {
    std::string target = c.dir + testing_support::Sep() + std::string(c.name_length, 'n');
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(MakeClientFile(src.c_str(), target.c_str()), 1) << c.name_length;
      EXPECT_EQ(ReadFileBytes(target), "long") << c.name_length;
    }
  }
  EXPECT_EQ(NamesIn(scratch.path()).size(), 3u);
  EXPECT_EQ(NamesIn(deep).size(), 1u);
}

// The fetched file under another name is not replaced by its plain form.
TEST(MakeClientFile, SourceAndTargetOneFileTouchesNothing) {
  ScratchDir scratch;
  std::string src = scratch.Sub("fetched.gz");
  const std::string member = testing_support::ZlibGzip(LongText(50000));
  WriteFileBytes(src, member);
  std::vector<std::string> names = {src};
  for (const testing_support::OtherName& name : testing_support::OtherNamesOf(src)) {
    names.push_back(name.path);
  }
  for (const std::string& name : names) {
    EXPECT_EQ(MakeClientFile(src.c_str(), name.c_str()), 0) << name;
    EXPECT_TRUE(ReadFileBytes(src) == member) << name;
  }
}

}  // namespace

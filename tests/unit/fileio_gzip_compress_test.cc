#include "fileio/gzip_compress.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/file_links.h"
#include "zipengine/fast/fast_deflate.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace {

using testing_support::GunzipBytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

const std::string kHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x0b", 10);

uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string Content(size_t size, int kind) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string text;
  text.reserve(size);
  while (text.size() < size) {
    if (kind == 0) {
      text.push_back(static_cast<char>(random()));  // incompressible
    } else {
      text += "line " + std::to_string(random() % 1000) + " of some release notes\r\n";
    }
  }
  text.resize(size);
  return text;
}

// The whole input in the engine's fast mode, fed in one piece: what the
// member streamed from the file must hold, whatever pieces the file is read
// in; zlib reads it back.
std::string FastMember(const std::string& plain) {
  zipengine::FastGzipStream stream;
  stream.Begin();
  stream.Add(reinterpret_cast<const unsigned char*>(plain.data()), plain.size());
  stream.Finish();
  return std::string(reinterpret_cast<const char*>(stream.output()), stream.output_size());
}

TEST(CompressFile, WritesOneGzipMemberOfTheFastMode) {
  struct Case {
    size_t size;
    int kind;
  };
  // Around the 32768-byte pieces the data moves in, and well past them.
  const Case cases[] = {{1, 1},     {1000, 1},   {32767, 0},  {32768, 1},
                        {32769, 0}, {100000, 0}, {100000, 1}, {3 * 32768 + 5, 1}};
  ScratchDir scratch;
  std::string src = scratch.Sub("plain.bin");
  std::string dst = scratch.Sub("packed.bin");
  for (const Case& c : cases) {
    SCOPED_TRACE("size " + std::to_string(c.size) + " kind " + std::to_string(c.kind));
    std::string plain = Content(c.size, c.kind);
    WriteFileBytes(src, plain);
    EXPECT_EQ(IOUtil_CompressFile(src.c_str(), dst.c_str()), static_cast<int64_t>(c.size));
    std::string gzip = ReadFileBytes(dst);
    ASSERT_GT(gzip.size(), 18u);
    EXPECT_EQ(gzip.substr(0, 10), kHeader);
    EXPECT_TRUE(gzip == FastMember(plain));
    EXPECT_EQ(
        LittleEndian32(gzip, gzip.size() - 8),
        crc32(0, reinterpret_cast<const Bytef*>(plain.data()), static_cast<uInt>(plain.size())));
    EXPECT_EQ(LittleEndian32(gzip, gzip.size() - 4), static_cast<uint32_t>(c.size));
    std::string expanded;
    EXPECT_TRUE(GunzipBytes(gzip, &expanded));
    EXPECT_TRUE(expanded == plain);
  }
}

TEST(CompressFile, EmptySourceIsASuccessWithAnEmptyMember) {
  ScratchDir scratch;
  std::string src = scratch.Sub("empty");
  std::string dst = scratch.Sub("empty.gz");
  WriteFileBytes(src, "");
  WriteFileBytes(dst, "an older, longer file that must be truncated");
  EXPECT_EQ(IOUtil_CompressFile(src.c_str(), dst.c_str()), 0);
  // Header, an empty final fixed block (03 00), CRC 0 and length 0.
  EXPECT_EQ(ReadFileBytes(dst), kHeader + std::string("\x03\x00", 2) + std::string(8, '\0'));
}

TEST(CompressFile, FailuresAreToldFromZeroBytes) {
  ScratchDir scratch;
  std::string src = scratch.Sub("src");
  WriteFileBytes(src, "data");

  // A missing source leaves a valid member of no data at the destination.
  std::string dst = scratch.Sub("from_missing.gz");
  EXPECT_EQ(IOUtil_CompressFile(scratch.Sub("missing").c_str(), dst.c_str()), -1);
  std::string expanded = "x";
  EXPECT_TRUE(GunzipBytes(ReadFileBytes(dst), &expanded));
  EXPECT_EQ(expanded, "");
  EXPECT_EQ(ReadFileBytes(dst).size(), 20u);

  // A destination that cannot be written: read-only, or in a missing folder.
  std::string read_only = scratch.Sub("read_only.gz");
  WriteFileBytes(read_only, "kept");
  SetReadOnly(read_only, true);
  EXPECT_EQ(IOUtil_CompressFile(src.c_str(), read_only.c_str()), -1);
  EXPECT_EQ(ReadFileBytes(read_only), "kept");
  EXPECT_EQ(IOUtil_CompressFile(src.c_str(), scratch.Sub("no/such/dir.gz").c_str()), -1);

  EXPECT_EQ(IOUtil_CompressFile(nullptr, dst.c_str()), -1);
  EXPECT_EQ(IOUtil_CompressFile(src.c_str(), nullptr), -1);
}

// The source is read before the destination is touched: a destination that
// is the source under any name, or lies inside a source that is a directory,
// is never deleted or emptied.
TEST(CompressFile, NeverDestroysItsSource) {
  ScratchDir scratch;
  const std::string text = Content(50000, 1);
  std::string src = scratch.Sub("release.txt");
  WriteFileBytes(src, text);
  std::vector<std::string> names = {src};
  for (const testing_support::OtherName& name : testing_support::OtherNamesOf(src)) {
    names.push_back(name.path);
  }
  for (const std::string& dst : names) {
    EXPECT_EQ(IOUtil_CompressFile(src.c_str(), dst.c_str()), -1) << dst;
    EXPECT_TRUE(ReadFileBytes(src) == text) << dst;
  }

  testing_support::MakeDirs(scratch.Sub("tree"));
  std::string inside = scratch.Sub("tree/kept.txt");
  WriteFileBytes(inside, "kept");
  EXPECT_EQ(IOUtil_CompressFile(scratch.Sub("tree").c_str(), inside.c_str()), -1);
  EXPECT_EQ(ReadFileBytes(inside), "kept");
}

}  // namespace

// A patch directory may name the same file as the temporary tree (a hard
// link left by a failed release); compressing again must not change it.
TEST(CompressFile, ReplacesTheDestinationInsteadOfRewritingIt) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("old.txt"), "old release");
  WriteFileBytes(scratch.Sub("new.txt"), "new release");
  ASSERT_GT(IOUtil_CompressFile(scratch.Sub("old.txt").c_str(), scratch.Sub("tree.gz").c_str()), 0);
  if (!plat::LinkFile(scratch.Sub("tree.gz").c_str(), scratch.Sub("patch.gz").c_str())) {
    GTEST_SKIP() << "no hard links here";
  }
  ASSERT_GT(IOUtil_CompressFile(scratch.Sub("new.txt").c_str(), scratch.Sub("tree.gz").c_str()), 0);
  std::string tree, patch;
  ASSERT_TRUE(GunzipBytes(ReadFileBytes(scratch.Sub("tree.gz")), &tree));
  ASSERT_TRUE(GunzipBytes(ReadFileBytes(scratch.Sub("patch.gz")), &patch));
  EXPECT_EQ(tree, "new release");
  EXPECT_EQ(patch, "old release");
}

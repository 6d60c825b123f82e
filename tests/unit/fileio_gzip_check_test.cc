// The check a rebuild makes before it takes an earlier release's compressed
// file: the file must be one whole member of the source's CRC-32 and length,
// whether it is read whole into memory or (past 16 MiB) decoded as it is
// read. Members are written by zlib, CRCs computed by zlib.
#include "fileio/gzip_check.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::RandomBytes;
using testing_support::ScratchDir;
using testing_support::TextLike;
using testing_support::WriteFileBytes;

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

TEST(GzipMemberChecker, TakesOnlyAWholeMemberOfTheSourceSmallOrLarge) {
  ScratchDir scratch;
  GzipMemberChecker checker;  // one for all files, as a rebuild uses it
  const struct {
    const char* name;
    std::string plain;
    int level;
  } sources[] = {
      {"text", TextLike(300000, 21), 6},
      // Stored blocks of noise: a compressed file over 16 MiB.
      {"17 MiB of noise", RandomBytes((size_t{17} << 20) + 123, 22), 0},
  };
  for (const auto& source : sources) {
    testing_support::ZlibGzipOptions options;
    options.level = source.level;
    std::string member = testing_support::ZlibGzip(source.plain, options);
    std::string path = scratch.Sub("member.gz");
    WriteFileBytes(path, member);
    uint32_t crc = Crc(source.plain);
    uint32_t size = static_cast<uint32_t>(source.plain.size());
    EXPECT_TRUE(checker.IsMemberOf(path.c_str(), crc, size)) << source.name;
    EXPECT_FALSE(checker.IsMemberOf(path.c_str(), crc ^ 1, size)) << source.name;
    EXPECT_FALSE(checker.IsMemberOf(path.c_str(), crc, size + 1)) << source.name;
    // A byte changed in the deflate data, the trailer kept.
    std::string damaged = member;
    damaged[member.size() / 2] = static_cast<char>(damaged[member.size() / 2] ^ 0x20);
    WriteFileBytes(path, damaged);
    EXPECT_FALSE(checker.IsMemberOf(path.c_str(), crc, size)) << source.name;
    // Something after the member.
    WriteFileBytes(path, member + '\0');
    EXPECT_FALSE(checker.IsMemberOf(path.c_str(), crc, size)) << source.name;
    EXPECT_FALSE(checker.IsMemberOf(scratch.Sub("missing.gz").c_str(), crc, size)) << source.name;
  }
}

}  // namespace

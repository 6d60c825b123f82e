// The engine's CRC-32 against the standard check value and against zlib's.
#include "zipengine/common/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "support/gzip_oracle.h"

namespace {

uint32_t Crc(const std::string& data) {
  return ~zipengine::UpdateCrc32(0xffffffffu, reinterpret_cast<const unsigned char*>(data.data()),
                                 data.size());
}

TEST(Crc32, CheckValues) {
  EXPECT_EQ(Crc(""), 0u);
  EXPECT_EQ(Crc("a"), 0xe8b7be43u);
  EXPECT_EQ(Crc("123456789"), 0xcbf43926u);
  EXPECT_EQ(Crc("The quick brown fox jumps over the lazy dog"), 0x414fa339u);
}

// Every length and start alignment around the eight-byte steps, and the
// register carried across pieces of any size.
TEST(Crc32, AgreesWithZlibAtAnyLengthAlignmentAndSplit) {
  const std::string data = testing_support::RandomBytes(1000, 70);
  for (size_t start = 0; start < 9; ++start) {
    for (size_t length = 0; length + start <= 300; ++length) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data()) + start;
      uLong expected = crc32(0, p, static_cast<uInt>(length));
      ASSERT_EQ(~zipengine::UpdateCrc32(0xffffffffu, p, length), expected)
          << start << "+" << length;
    }
  }
  for (size_t split : {size_t{1}, size_t{7}, size_t{8}, size_t{13}, size_t{500}}) {
    uint32_t reg = 0xffffffffu;
    for (size_t at = 0; at < data.size(); at += split) {
      size_t piece = std::min(split, data.size() - at);
      reg = zipengine::UpdateCrc32(reg, reinterpret_cast<const unsigned char*>(data.data()) + at,
                                   piece);
    }
    EXPECT_EQ(~reg, Crc(data)) << split;
  }
}

}  // namespace

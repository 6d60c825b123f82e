// The fast deflate mode that releases are made with: whatever the input,
// zlib and the gzip program must read its member back to the same bytes.
#include "zipengine/fast/fast_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::RandomBytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::TextLike;
using testing_support::WriteFileBytes;

const std::string kHeader("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x0b", 10);

// One member of data, fed to the stream `piece` bytes at a time (0: all at
// once), through Add or straight into the stream's input space.
std::string Compress(zipengine::FastGzipStream& stream, const std::string& data, size_t piece = 0,
                     bool into_space = false) {
  stream.Begin();
  const unsigned char* next = reinterpret_cast<const unsigned char*>(data.data());
  size_t left = data.size();
  while (left > 0) {
    size_t take = piece == 0 ? left : std::min(piece, left);
    if (into_space) {
      size_t room = 0;
      unsigned char* space = stream.InputSpace(&room);
      take = std::min(take, room);
      std::copy(next, next + take, space);
      stream.Commit(take);
    } else {
      stream.Add(next, take);
    }
    next += take;
    left -= take;
  }
  stream.Finish();
  return std::string(reinterpret_cast<const char*>(stream.output()), stream.output_size());
}

std::string Compress(const std::string& data) {
  zipengine::FastGzipStream stream;
  return Compress(stream, data);
}

std::string OwnProgram() {
  return ReadFileBytes(testing_support::TestProgramDir() + testing_support::Sep() + "unit_tests" +
                       plat::kExecutableSuffix);
}

struct Case {
  const char* what;
  std::string data;
};

// Inputs around the places where the parser changes its course: no data,
// too little to hash, runs far longer than a match, incompressible data
// (stored blocks of at most 65535 bytes), more than one window and more
// than one 1 MiB piece of the stream's buffer (the buffer slides), and a
// piece boundary inside a run and inside text.
std::vector<Case> Cases() {
  const size_t piece = size_t{1} << 20;
  std::string binary = OwnProgram();
  std::string mixed = RandomBytes(300000, 7) + TextLike(900000, 8) + std::string(500000, '\0') +
                      binary.substr(0, 800000) + RandomBytes(70000, 9);
  return {
      {"empty", ""},
      {"one byte", "x"},
      {"three bytes", "abc"},
      {"four bytes", "abab"},
      {"run of 1000", std::string(1000, 'a')},
      {"run of 3 MB", std::string(3 * piece, 'z')},
      {"two-byte period",
       [] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += "ab";
         return s;
       }()},
      {"random 1 byte short of two stored pieces", RandomBytes(2 * 65535 - 1, 1)},
      {"random 200000", RandomBytes(200000, 2)},
      {"text 300000", TextLike(300000, 3)},
      {"text across a piece boundary", TextLike(piece + 32768 + 1, 4)},
      {"zeros up to the buffer's end", std::string(piece + 32768, '\0') + "tail"},
      {"own program", binary},
      {"sample.bin", ReadFileBytes(testing_support::ZipDataFile("sample.bin"))},
      {"mixed, 2.5 MB", mixed},
  };
}

bool HaveGzipProgram() { return std::system("gzip --version > /dev/null 2>&1") == 0; }

TEST(FastDeflate, ZlibAndTheGzipProgramReadBackEveryInput) {
  ScratchDir scratch;
  const bool gzip_program = HaveGzipProgram();
  for (const Case& c : Cases()) {
    SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.data.size()) + " bytes");
    std::string member = Compress(c.data);
    ASSERT_GE(member.size(), 20u);
    EXPECT_EQ(member.substr(0, 10), kHeader);
    std::string by_zlib;
    EXPECT_TRUE(testing_support::ZlibGunzip(member, &by_zlib));
    EXPECT_TRUE(by_zlib == c.data);
    if (gzip_program) {
      WriteFileBytes(scratch.Sub("member.gz"), member);
      ASSERT_EQ(std::system(("gzip -d -c '" + scratch.Sub("member.gz") + "' > '" +
                             scratch.Sub("member.out") + "'")
                                .c_str()),
                0);
      EXPECT_TRUE(ReadFileBytes(scratch.Sub("member.out")) == c.data);
    }
  }
}

// A release is the same whatever reads the files in what pieces, and a
// stream reused for the next file carries nothing over from the last.
TEST(FastDeflate, OutputDependsOnTheInputAlone) {
  const std::string data = TextLike(700000, 11) + RandomBytes(100000, 12) +
                           OwnProgram().substr(0, 600000) + TextLike(400000, 13);
  zipengine::FastGzipStream fresh;
  const std::string expected = Compress(fresh, data);
  zipengine::FastGzipStream reused;
  Compress(reused, RandomBytes(1500000, 14) + TextLike(500000, 15));
  EXPECT_TRUE(Compress(reused, data) == expected);
  Compress(reused, "a short file after a long one");
  EXPECT_TRUE(Compress(reused, data, 1) == expected);
  EXPECT_TRUE(Compress(reused, data, 4093) == expected);
  EXPECT_TRUE(Compress(reused, data, 32768, true) == expected);
  EXPECT_TRUE(Compress(reused, data, 5000000, true) == expected);
}

// Data that does not compress goes out in stored blocks: the member is the
// input plus the header, the trailer and 5 bytes for each block (a block
// holds at most 8192 symbols, a stored one at most 65535 bytes). A
// Huffman-coded block of random bytes would grow by far more.
TEST(FastDeflate, IncompressibleDataGrowsOnlyByTheStoredBlockHeaders) {
  for (size_t size :
       {size_t{1000}, size_t{65535}, size_t{65536}, size_t{1} << 20, (size_t{1} << 20) + 40000}) {
    std::string data = RandomBytes(size, static_cast<unsigned>(size));
    std::string member = Compress(data);
    size_t blocks = size / 8192 + 2;
    EXPECT_LE(member.size(), size + 18 + 5 * blocks) << size;
  }
}

// The trailer holds zlib's CRC-32 of the input and its length.
TEST(FastDeflate, TrailerHoldsTheCrcAndTheLength) {
  std::string data = TextLike(123457, 21);
  std::string member = Compress(data);
  auto little32 = [&member](size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(member[at + i]);
    return value;
  };
  EXPECT_EQ(little32(member.size() - 8),
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  EXPECT_EQ(little32(member.size() - 4), data.size());
}

}  // namespace

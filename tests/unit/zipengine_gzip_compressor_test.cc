// CZip's output: its header and trailer, the deflate stream read back by an
// independent reader (zlib, the gzip program where there is one, and a
// small symbol reader below), and the compressor's rules seen in the
// symbols it chose.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/test_support.h"
#include "zipengine/classic/gzip_compressor.h"
#include "zipengine/classic/huffman_builder.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunCUnzip;
using testing_support::RunCZip;
using testing_support::ScratchDir;
using testing_support::SwapOutcome;
using testing_support::WriteFileBytes;

// One symbol of a deflate stream: a literal, or a match.
struct Symbol {
  int literal = -1;
  int length = 0;
  int distance = 0;
};

struct Block {
  int type = 0;
  std::vector<Symbol> symbols;
  std::string stored;
};

// Reads the blocks of a deflate stream bit by bit, with canonical codes
// decoded by counting (RFC 1951 3.2.2): slow, short and independent of the
// engine's table-driven decoder.
class SymbolReader {
 public:
  explicit SymbolReader(const std::string& data) : data_(data) {}

  std::vector<Block> ReadAll() {
    std::vector<Block> blocks;
    bool last = false;
    while (!last) {
      last = Bits(1) != 0;
      Block block;
      block.type = Bits(2);
      if (block.type == 0) {
        bit_ = (bit_ + 7) & ~size_t{7};
        int length = Bits(16);
        Bits(16);
        for (int i = 0; i < length; ++i) block.stored += static_cast<char>(Bits(8));
      } else if (block.type == 1) {
        std::vector<int> lengths(288);
        for (int n = 0; n < 288; ++n) lengths[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
        Codes(Code(lengths), Code(std::vector<int>(30, 5)), &block);
      } else if (block.type == 2) {
        int literal_count = Bits(5) + 257;
        int distance_count = Bits(5) + 1;
        int length_count = Bits(4) + 4;
        static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
        std::vector<int> code_lengths(19);
        for (int i = 0; i < length_count; ++i) code_lengths[kOrder[i]] = Bits(3);
        Huffman length_code = Code(code_lengths);
        std::vector<int> lengths;
        while (static_cast<int>(lengths.size()) < literal_count + distance_count) {
          int symbol = Decode(length_code);
          if (symbol < 16)
            lengths.push_back(symbol);
          else if (symbol == 16)
            lengths.insert(lengths.end(), 3 + Bits(2), lengths.back());
          else if (symbol == 17)
            lengths.insert(lengths.end(), 3 + Bits(3), 0);
          else
            lengths.insert(lengths.end(), 11 + Bits(7), 0);
        }
        Codes(Code({lengths.begin(), lengths.begin() + literal_count}),
              Code({lengths.begin() + literal_count, lengths.end()}), &block);
      } else {
        ADD_FAILURE() << "block type 3";
        return blocks;
      }
      blocks.push_back(block);
    }
    return blocks;
  }

 private:
  struct Huffman {
    std::vector<int> count;
    std::vector<int> symbols;
  };

  int Bits(int count) {
    int value = 0;
    for (int i = 0; i < count; ++i, ++bit_) {
      if (bit_ / 8 >= data_.size()) throw std::runtime_error("deflate data ends early");
      value |= ((static_cast<unsigned char>(data_[bit_ / 8]) >> (bit_ % 8)) & 1) << i;
    }
    return value;
  }
  static Huffman Code(const std::vector<int>& lengths) {
    Huffman h{std::vector<int>(16), {}};
    for (int len : lengths) ++h.count[len];
    for (int len = 1; len < 16; ++len) {
      for (size_t n = 0; n < lengths.size(); ++n) {
        if (lengths[n] == len) h.symbols.push_back(static_cast<int>(n));
      }
    }
    return h;
  }
  int Decode(const Huffman& h) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; ++len) {
      code |= Bits(1);
      int count = h.count[len];
      if (code - count < first) return h.symbols[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw std::runtime_error("bad code");
  }
  void Codes(const Huffman& literals, const Huffman& distances, Block* block) {
    static const int kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                         2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const int kDistBase[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    for (;;) {
      int symbol = Decode(literals);
      if (symbol == 256) return;
      Symbol s;
      if (symbol < 256) {
        s.literal = symbol;
      } else {
        symbol -= 257;
        s.length = kLengthBase[symbol] + Bits(kLengthExtra[symbol]);
        int d = Decode(distances);
        s.distance = kDistBase[d] + Bits(d < 4 ? 0 : (d - 2) / 2);
      }
      block->symbols.push_back(s);
    }
  }

  const std::string& data_;
  size_t bit_ = 0;
};

class GzipCompressor : public ::testing::Test {
 protected:
  // Compresses data from a file named `name` and returns the gzip file.
  std::string Compress(const std::string& data, const std::string& name = "input.dat") {
    std::string source = dir_.Sub(name);
    std::string destination = dir_.Sub(name + ".gz");
    WriteFileBytes(source, data);
    SwapOutcome outcome = RunCZip(source, destination);
    EXPECT_FALSE(outcome.threw) << outcome.stderr_text;
    EXPECT_EQ(outcome.result, 0);
    return ReadFileBytes(destination);
  }

  // The deflate stream inside a member with the name "input.dat".
  static std::string DeflateData(const std::string& member) {
    const size_t header = 10 + sizeof "input.dat";
    return member.substr(header, member.size() - header - 8);
  }

  std::vector<Block> Blocks(const std::string& data) {
    std::string member = Compress(data);
    std::string deflate = DeflateData(member);
    return SymbolReader(deflate).ReadAll();
  }

  ScratchDir dir_;
};

uint32_t Little32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

TEST_F(GzipCompressor, EmptyInputIsOneFixedBlockWithEndOfBlockOnly) {
  std::string member = Compress("", "empty.txt");
  const std::string expected = std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x0b", 10) + "empty.txt" +
                               std::string("\0\x03\x00", 3) + std::string(8, '\0');
  EXPECT_TRUE(member == expected);
}

TEST_F(GzipCompressor, HeaderAndTrailer) {
  const std::string data = testing_support::TextLike(50000, 11);
  std::string member = Compress(data, "notes.txt");
  // Identifier, deflate, name flag, no time, no extra flags, NTFS.
  EXPECT_TRUE(member.compare(0, 10, std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x0b", 10)) == 0);
  EXPECT_EQ(member.substr(10, 10), std::string("notes.txt\0", 10));
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
  EXPECT_EQ(Little32(member, member.size() - 8), crc);
  EXPECT_EQ(Little32(member, member.size() - 4), data.size());
}

TEST_F(GzipCompressor, StoresTheBaseNameOfTheSource) {
  struct Case {
    const char* name;
    const char* stored;
  };
  // Slash first, then backslash, then colon, each in what the last cut left.
  const Case cases[] = {
      {"plain.txt", "plain.txt"},
      {"dir/sub/a.txt", "a.txt"},
      {"dir\\sub\\b.txt", "b.txt"},
      {"c:\\dir/x\\c.txt", "c.txt"},
      {"d:e.txt", "e.txt"},
      {"x\\y:f.txt", "f.txt"},
      {"dir/", ""},
      {"dir\\", ""},
      {"d:", ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(zipengine::GzipBaseName(c.name), c.stored) << c.name;
  // Through the class: the scratch directory part is cut off.
  std::string member = Compress("x", "based.txt");
  EXPECT_EQ(member.substr(10, 10), std::string("based.txt\0", 10));
}

// Everything CZip writes must expand with zlib and with CUnzip to the input.
TEST_F(GzipCompressor, RoundTripsThroughZlibAndCUnzip) {
  std::string binary = ReadFileBytes(testing_support::TestProgramDir() + testing_support::Sep() +
                                     "unit_tests" + plat::kExecutableSuffix);
  binary.resize(std::min<size_t>(binary.size(), 400000));
  struct Case {
    const char* what;
    std::string data;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"one byte", "x"},
      {"run of 1000", std::string(1000, 'a')},
      {"run of 100000", std::string(100000, '\0')},
      {"text", testing_support::TextLike(200000, 12)},
      {"random", testing_support::RandomBytes(100000, 13)},
      {"program binary", binary},
  };
  for (size_t size : {32767u, 32768u, 32769u, 65535u, 65536u, 65537u, 65274u, 98304u}) {
    cases.push_back({"text around a window size",
                     testing_support::TextLike(size, static_cast<unsigned>(size))});
  }
  // Far past several window slides, with repeats at long distances and a
  // random stretch that makes stored blocks.
  std::string mixed;
  for (int i = 0; i < 6; ++i) {
    mixed +=
        testing_support::TextLike(150000, 20 + i % 2) + testing_support::RandomBytes(40000, 30 + i);
    mixed += std::string(5000 + i, static_cast<char>(i));
  }
  cases.push_back({"1.2 MB mixed", mixed});

  for (const Case& c : cases) {
    std::string member = Compress(c.data);
    std::string expanded;
    EXPECT_TRUE(testing_support::ZlibGunzip(member, &expanded)) << c.what << " " << c.data.size();
    EXPECT_TRUE(expanded == c.data) << c.what << " " << c.data.size();

    std::string gz = dir_.Sub("roundtrip.gz");
    WriteFileBytes(gz, member);
    SwapOutcome outcome = RunCUnzip(gz, dir_.Sub("roundtrip.out"));
    EXPECT_EQ(outcome.result, 0) << c.what << outcome.stderr_text;
    EXPECT_TRUE(ReadFileBytes(dir_.Sub("roundtrip.out")) == c.data)
        << c.what << " " << c.data.size();
  }
}

// Where the gzip program exists: its -6 output is never smaller.
TEST_F(GzipCompressor, NoLargerThanGzipLevelSix) {
  if (std::system("gzip --version > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no gzip program here";
  }
  const std::string inputs[] = {testing_support::TextLike(300000, 40),
                                ReadFileBytes(testing_support::ZipDataFile("sample.bin")),
                                testing_support::RandomBytes(70000, 41) + std::string(70000, 'q')};
  for (const std::string& data : inputs) {
    std::string source = dir_.Sub("input.dat");
    std::string member = Compress(data);
    ASSERT_EQ(std::system(("gzip -6 -c '" + source + "' > '" + dir_.Sub("gzip.gz") + "'").c_str()),
              0);
    std::string theirs = ReadFileBytes(dir_.Sub("gzip.gz"));
    EXPECT_LE(member.size(), theirs.size()) << data.size();
    ASSERT_EQ(std::system(("gzip -t '" + dir_.Sub("input.dat.gz") + "'").c_str()), 0);
  }
}

TEST_F(GzipCompressor, RepeatedByteIsTwoLiteralsThenLongestMatches) {
  std::vector<Block> blocks = Blocks(std::string(2 + 258 * 3, 'r'));
  ASSERT_EQ(blocks.size(), 1u);
  const std::vector<Symbol>& s = blocks[0].symbols;
  // Window position 0 is the hash's empty value: nothing matches back to it.
  ASSERT_EQ(s.size(), 5u);
  EXPECT_EQ(s[0].literal, 'r');
  EXPECT_EQ(s[1].literal, 'r');
  for (int i = 2; i < 5; ++i) {
    EXPECT_EQ(s[i].length, 258);
    EXPECT_EQ(s[i].distance, 1);
  }
}

// Bytes that cannot be ASCII letters, so the probes below match nothing in it.
std::string HighBytes(size_t size, unsigned seed) {
  std::string bytes = testing_support::RandomBytes(size, seed);
  for (char& c : bytes) c = static_cast<char>(c | 0x80);
  return bytes;
}

TEST_F(GzipCompressor, ShortMatchesFarBackAreNotUsed) {
  // "QWE" again 5000 bytes on: a match of 3 that far back is left as
  // literals; "QWERT" at the same distance is used.
  for (const char* probe : {"QWE", "QWERT"}) {
    std::string data = std::string("#") + probe + HighBytes(5000, 50) + probe + "#";
    bool far_match = false;
    for (const Block& block : Blocks(data)) {
      for (const Symbol& s : block.symbols) far_match |= s.distance > 4096;
    }
    EXPECT_EQ(far_match, std::string(probe).size() > 3) << probe;
  }
}

TEST_F(GzipCompressor, BlockTypeFollowsItsCost) {
  std::vector<Block> random = Blocks(testing_support::RandomBytes(20000, 60));
  ASSERT_FALSE(random.empty());
  size_t stored = 0;
  for (const Block& b : random) {
    EXPECT_EQ(b.type, 0);
    stored += b.stored.size();
  }
  EXPECT_EQ(stored, 20000u);

  std::vector<Block> short_text = Blocks("hello, hello");
  ASSERT_EQ(short_text.size(), 1u);
  EXPECT_EQ(short_text[0].type, 1);

  std::vector<Block> text = Blocks(testing_support::TextLike(40000, 61));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0].type, 2);
}

// Very skewed frequencies make a Huffman tree deeper than the limit; the
// repaired lengths must still form a complete prefix code within it.
TEST(GzipCompressorTrees, LengthLimitKeepsACompleteCode) {
  for (int max_length : {7, 15}) {
    zipengine::TreeNode tree[2 * zipengine::kLiteralLengthCodes + 1] = {};
    uint32_t a = 1, b = 1;
    const int symbols = max_length == 7 ? 19 : 30;
    for (int n = 0; n < symbols; ++n) {
      tree[n].freq = a;
      uint32_t next = a + b;
      a = b;
      b = next;
    }
    zipengine::TreeShape shape{symbols, max_length, nullptr, 0, nullptr};
    zipengine::BlockCost cost{0, 0};
    int max_code = zipengine::BuildTree(tree, shape, &cost);
    EXPECT_EQ(max_code, symbols - 1);
    double kraft = 0;
    uint32_t bits = 0;
    for (int n = 0; n < symbols; ++n) {
      ASSERT_GE(tree[n].len, 1);
      ASSERT_LE(tree[n].len, max_length);
      kraft += 1.0 / (1u << tree[n].len);
      bits += tree[n].freq * tree[n].len;
      // The more frequent symbol never has the longer code.
      if (n > 0) {
        EXPECT_LE(tree[n].len, tree[n - 1].len) << n;
      }
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0) << max_length;
    EXPECT_EQ(cost.dynamic_bits, bits) << max_length;
  }
}

}  // namespace

// The code-length reader both inflates share, fed from a scripted source:
// every run symbol's extra bits and base, and every sequence RFC 1951
// forbids. The decoders' own tests reach it only through whole streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "zipengine/common/code_length_reader.h"

namespace {

// Gives the symbols in order; after each run symbol, its extra bits. Notes
// how many extra bits were asked for each time, so a wrong width shows.
struct ScriptedSource {
  std::vector<int> symbols;
  std::vector<unsigned> extras;
  std::vector<unsigned> widths;
  size_t next_symbol = 0;
  size_t next_extra = 0;

  int NextCodeLengthSymbol() { return next_symbol < symbols.size() ? symbols[next_symbol++] : -1; }
  unsigned TakeBits(unsigned n) {
    widths.push_back(n);
    unsigned value = next_extra < extras.size() ? extras[next_extra++] : 0;
    return value & ((1u << n) - 1);
  }
};

TEST(CodeLengthReader, ExpandsEveryRunSymbolWithItsExtraBits) {
  // 8, then 16 repeating it 3 + 1 times, 17 giving 3 + 7 zeros, 5, 18
  // giving 11 + 127 zeros, 16 repeating 5 six times (its largest run).
  ScriptedSource source{{8, 16, 17, 5, 18, 5, 16}, {1, 7, 127, 3}};
  const unsigned total = 1 + 4 + 10 + 1 + 138 + 1 + 6;
  std::vector<uint8_t> lengths(total, 0xee);
  ASSERT_TRUE(zipengine::ReadCodeLengths(source, total, lengths.data()));
  std::vector<uint8_t> expected;
  expected.insert(expected.end(), 5, 8);
  expected.insert(expected.end(), 10, 0);
  expected.push_back(5);
  expected.insert(expected.end(), 138, 0);
  expected.insert(expected.end(), 7, 5);
  EXPECT_EQ(lengths, expected);
  EXPECT_EQ(source.widths, (std::vector<unsigned>{2, 3, 7, 2}));
  EXPECT_EQ(source.next_symbol, source.symbols.size()) << "reads no symbol past the total";
}

TEST(CodeLengthReader, RefusesWhatRfc1951Forbids) {
  struct Case {
    const char* fault;
    std::vector<int> symbols;
    std::vector<unsigned> extras;
    unsigned total;
  };
  const std::vector<Case> cases = {
      {"an invalid symbol from the decoder", {3, -1}, {}, 4},
      {"a repeat of the previous length before any length", {16}, {0}, 6},
      {"a run of the previous length past the total", {7, 16}, {3}, 6},
      {"a run of zeros past the total", {17}, {7}, 9},
      {"a long run of zeros past the total", {0, 18}, {0}, 11},
      {"input that ends before the total", {1, 2}, {}, 3},
  };
  for (const Case& c : cases) {
    ScriptedSource source{c.symbols, c.extras};
    std::vector<uint8_t> lengths(c.total + 200, 0);
    EXPECT_FALSE(zipengine::ReadCodeLengths(source, c.total, lengths.data())) << c.fault;
    for (size_t i = c.total; i < lengths.size(); ++i) {
      ASSERT_EQ(lengths[i], 0) << c.fault << ": wrote past the total at " << i;
    }
  }
}

TEST(CodeLengthReader, RunsThatEndExactlyAtTheTotalAreTaken) {
  ScriptedSource zeros{{18}, {127}};
  std::vector<uint8_t> lengths(138, 9);
  ASSERT_TRUE(zipengine::ReadCodeLengths(zeros, 138, lengths.data()));
  EXPECT_EQ(lengths, std::vector<uint8_t>(138, 0));

  ScriptedSource repeat{{15, 16}, {0}};
  std::vector<uint8_t> four(4, 0);
  ASSERT_TRUE(zipengine::ReadCodeLengths(repeat, 4, four.data()));
  EXPECT_EQ(four, std::vector<uint8_t>(4, 15));
}

}  // namespace

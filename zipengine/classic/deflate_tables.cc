#include "zipengine/classic/deflate_tables.h"

#include "zipengine/classic/huffman_builder.h"

namespace zipengine {
namespace {

FixedTables BuildFixedTables() {
  FixedTables t{};
  int length = 0;
  int code = 0;
  for (code = 0; code < kLengthCodes - 1; ++code) {
    t.base_length[code] = length;
    for (int n = 0; n < (1 << kExtraLengthBits[code]); ++n) t.length_code[length++] = static_cast<uint8_t>(code);
  }
  // Length 258 has a code of its own (285) although 227+31 would reach it
  // with code 284.
  t.length_code[255] = static_cast<uint8_t>(kLengthCodes - 1);
  t.base_length[kLengthCodes - 1] = kMaxMatch - kMinMatch;

  int distance = 0;
  for (code = 0; code < 16; ++code) {
    t.base_distance[code] = distance;
    for (int n = 0; n < (1 << kExtraDistanceBits[code]); ++n) t.distance_code[distance++] = static_cast<uint8_t>(code);
  }
  distance >>= 7;  // from here on the map is indexed by distance / 128
  for (; code < kDistanceCodes; ++code) {
    t.base_distance[code] = distance << 7;
    for (int n = 0; n < (1 << (kExtraDistanceBits[code] - 7)); ++n) {
      t.distance_code[256 + distance++] = static_cast<uint8_t>(code);
    }
  }

  uint16_t counts[kMaxCodeBits + 1] = {};
  for (int n = 0; n < kLiteralLengthCodes + 2; ++n) {
    int bits = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
    t.literal_tree[n].len = static_cast<uint16_t>(bits);
    ++counts[bits];
  }
  AssignCodes(t.literal_tree, kLiteralLengthCodes + 1, counts);
  for (int n = 0; n < kDistanceCodes; ++n) {
    t.distance_tree[n].len = 5;
    t.distance_tree[n].code = static_cast<uint16_t>(ReverseBits(static_cast<unsigned>(n), 5));
  }
  return t;
}

}  // namespace

const FixedTables& GetFixedTables() {
  static const FixedTables tables = BuildFixedTables();
  return tables;
}

}  // namespace zipengine

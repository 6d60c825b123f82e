// The fixed tables of RFC 1951 for both directions: extra bits per
// code, the maps from match lengths and distances to their codes, and the
// fixed literal/length and distance codes.
#ifndef FILEDIST_ZIPENGINE_DEFLATE_TABLES_H
#define FILEDIST_ZIPENGINE_DEFLATE_TABLES_H

#include <cstdint>

namespace zipengine {

constexpr int kLiterals = 256;
constexpr int kEndOfBlock = 256;
constexpr int kLengthCodes = 29;
constexpr int kLiteralLengthCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDistanceCodes = 30;
constexpr int kCodeLengthCodes = 19;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;

// One symbol of a code: its frequency while the tree is built, then the
// bit-reversed code and its length for sending.
struct TreeNode {
  uint32_t freq;
  uint16_t code;
  uint16_t len;
  uint16_t dad;
};

extern const uint8_t kExtraLengthBits[kLengthCodes];
extern const uint8_t kExtraDistanceBits[kDistanceCodes];
extern const uint8_t kExtraCodeLengthBits[kCodeLengthCodes];
// The order in which code-length code lengths are sent.
extern const uint8_t kCodeLengthOrder[kCodeLengthCodes];

struct FixedTables {
  uint8_t length_code[256];    // match length - 3 -> length code
  uint8_t distance_code[512];  // distance - 1 (by 128 from 256 on) -> code
  int base_length[kLengthCodes];
  int base_distance[kDistanceCodes];
  TreeNode literal_tree[kLiteralLengthCodes + 2];
  TreeNode distance_tree[kDistanceCodes];
};

// Built the first time it is asked for and kept for the process.
const FixedTables& GetFixedTables();

inline int DistanceCode(const FixedTables& tables, unsigned distance_minus_one) {
  return distance_minus_one < 256 ? tables.distance_code[distance_minus_one]
                                  : tables.distance_code[256 + (distance_minus_one >> 7)];
}

// Reverses the low `length` bits of code.
unsigned ReverseBits(unsigned code, int length);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_DEFLATE_TABLES_H

// The classic compressor's tables: the maps from match lengths and
// distances to their codes, and the fixed literal/length and distance codes
// as trees.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_TABLES_H
#define FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_TABLES_H

#include <cstdint>

#include "zipengine/common/deflate_format.h"

namespace zipengine {

// One symbol of a code: its frequency while the tree is built, then the
// bit-reversed code and its length for sending.
struct TreeNode {
  uint32_t freq;
  uint16_t code;
  uint16_t len;
  uint16_t dad;
};

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

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_TABLES_H

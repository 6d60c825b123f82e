// Builds a length-limited Huffman code from symbol frequencies.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_HUFFMAN_BUILDER_H
#define FILEDIST_ZIPENGINE_CLASSIC_HUFFMAN_BUILDER_H

#include <cstdint>

#include "zipengine/classic/deflate_tables.h"

namespace zipengine {

// What a tree is made of.
struct TreeShape {
  int elements;               // number of symbols
  int max_length;             // longest code allowed
  const uint8_t* extra_bits;  // extra bits of symbols from extra_base on, or null
  int extra_base;
  const TreeNode* fixed_tree;  // the fixed code, for its cost; or null
};

// Running cost of the block being closed, in bits.
struct BlockCost {
  uint32_t dynamic_bits;
  uint32_t fixed_bits;
};

// Gives every symbol of tree (freq set; room for 2 * elements + 1 nodes) its
// length and bit-reversed code, adds the symbols' cost under this code and
// under the fixed code to *cost, and returns the largest symbol with a
// non-zero frequency. A tree always ends up with at least two codes.
int BuildTree(TreeNode* tree, const TreeShape& shape, BlockCost* cost);

// Canonical codes (bit-reversed) for symbols 0..max_code from their lengths
// and the number of codes of each length.
void AssignCodes(TreeNode* tree, int max_code, const uint16_t* length_counts);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_HUFFMAN_BUILDER_H

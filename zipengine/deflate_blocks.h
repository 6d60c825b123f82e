// Block tallies of the compressor and the closing of a block: choosing a
// stored, fixed-code or dynamic-code block by its cost and sending it.
#ifndef FILEDIST_ZIPENGINE_DEFLATE_BLOCKS_H
#define FILEDIST_ZIPENGINE_DEFLATE_BLOCKS_H

#include <cstdint>

#include "zipengine/deflate_tables.h"
#include "zipengine/engine_state.h"

namespace zipengine {

struct BlockTallies {
  TreeNode literal_tree[2 * kLiteralLengthCodes + 1];
  TreeNode distance_tree[2 * kDistanceCodes + 1];
  TreeNode code_length_tree[2 * kCodeLengthCodes + 1];
  unsigned symbols;    // entries in the literal buffer
  unsigned matches;    // entries in the distance buffer
  unsigned flag_bytes;  // complete bytes in the flag buffer
  unsigned flag_acc;   // flags of the symbols since the last complete byte
  unsigned flag_bit;
};

extern BlockTallies g_block;

// Empties the tallies for a new block.
void StartBlock();

// Every 4096 symbols: whether the block has already become poor enough to
// close early. bytes_in_block is the input the block covers so far.
bool BlockWorthClosing(long bytes_in_block);

inline bool AfterTally(long bytes_in_block) {
  BlockTallies& b = g_block;
  b.flag_bit <<= 1;
  if ((b.symbols & 7) == 0) {
    g_engine.flags[b.flag_bytes++] = static_cast<uint8_t>(b.flag_acc);
    b.flag_acc = 0;
    b.flag_bit = 1;
  }
  if ((b.symbols & 0xfff) == 0 && BlockWorthClosing(bytes_in_block)) return true;
  return b.symbols == kLiteralBufferSize - 1 || b.matches == kDistanceBufferSize;
}

// Records a literal; true when the block should be closed now.
inline bool TallyLiteral(unsigned byte, long bytes_in_block) {
  g_engine.input[g_block.symbols++] = static_cast<unsigned char>(byte);
  ++g_block.literal_tree[byte].freq;
  return AfterTally(bytes_in_block);
}

// Records a match (distance 1..32768, length 3..258); true when the block
// should be closed now.
inline bool TallyMatch(unsigned distance, unsigned length, long bytes_in_block) {
  const FixedTables& t = GetFixedTables();
  unsigned length_index = length - kMinMatch;
  g_engine.input[g_block.symbols++] = static_cast<unsigned char>(length_index);
  g_engine.distances[g_block.matches++] = static_cast<uint16_t>(distance);
  ++g_block.literal_tree[t.length_code[length_index] + kLiterals + 1].freq;
  ++g_block.distance_tree[DistanceCode(t, distance - 1)].freq;
  g_block.flag_acc |= g_block.flag_bit;
  return AfterTally(bytes_in_block);
}

// Sends the block. stored_bytes is null when the block's input is no longer
// in the window (it cannot be stored then); last marks the final block,
// after which the output is aligned to a byte.
void CloseBlock(const unsigned char* stored_bytes, uint32_t stored_length, bool last);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_DEFLATE_BLOCKS_H

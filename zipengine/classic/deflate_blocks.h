// Block tallies of the compressor and the closing of a block: choosing a
// stored, fixed-code or dynamic-code block by its cost and sending it.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_BLOCKS_H
#define FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_BLOCKS_H

#include <cstdint>

#include "zipengine/classic/deflate_tables.h"
#include "zipengine/classic/engine.h"

namespace zipengine {

// Empties the tallies for a new block.
void StartBlock(Engine* engine);

// Every 4096 symbols: whether the block has already become poor enough to
// close early. bytes_in_block is the input the block covers so far.
bool BlockWorthClosing(const Engine* engine, long bytes_in_block);

inline bool AfterTally(Engine* engine, long bytes_in_block) {
  BlockTallies& b = engine->block;
  b.flag_bit <<= 1;
  if ((b.symbols & 7) == 0) {
    engine->flags[b.flag_bytes++] = static_cast<uint8_t>(b.flag_acc);
    b.flag_acc = 0;
    b.flag_bit = 1;
  }
  if ((b.symbols & 0xfff) == 0 && BlockWorthClosing(engine, bytes_in_block)) return true;
  return b.symbols == kLiteralBufferSize - 1 || b.matches == kDistanceBufferSize;
}

// Records a literal; true when the block should be closed now.
inline bool TallyLiteral(Engine* engine, unsigned byte, long bytes_in_block) {
  BlockTallies& b = engine->block;
  engine->input[b.symbols++] = static_cast<unsigned char>(byte);
  ++b.literal_tree[byte].freq;
  return AfterTally(engine, bytes_in_block);
}

// Records a match (distance 1..32768, length 3..258); true when the block
// should be closed now.
inline bool TallyMatch(Engine* engine, unsigned distance, unsigned length, long bytes_in_block) {
  const FixedTables& t = GetFixedTables();
  BlockTallies& b = engine->block;
  unsigned length_index = length - kMinMatch;
  engine->input[b.symbols++] = static_cast<unsigned char>(length_index);
  engine->distances[b.matches++] = static_cast<uint16_t>(distance);
  ++b.literal_tree[t.length_code[length_index] + kLiterals + 1].freq;
  ++b.distance_tree[DistanceCode(t, distance - 1)].freq;
  b.flag_acc |= b.flag_bit;
  return AfterTally(engine, bytes_in_block);
}

// Sends the block. stored_bytes is null when the block's input is no longer
// in the window (it cannot be stored then); last marks the final block,
// after which the output is aligned to a byte.
void CloseBlock(Engine* engine, const unsigned char* stored_bytes, uint32_t stored_length, bool last);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_DEFLATE_BLOCKS_H

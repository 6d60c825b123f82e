// Block output of the fast deflate mode: one block of parsed symbols, sent as
// whichever of a stored, a fixed-code and a dynamic-code block is smallest.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_BLOCK_WRITER_H
#define FILEDIST_ZIPENGINE_FAST_FAST_BLOCK_WRITER_H

#include <cstddef>
#include <cstdint>

#include "zipengine/fast/fast_bit_output.h"

namespace zipengine {

// A literal (dist 0, litlen the byte) or a match (litlen its length 3..258,
// dist its distance 1..32768).
struct FastSymbol {
  uint16_t litlen;
  uint16_t dist;
};

// Symbol frequencies of the block being gathered, by code: literal/length
// codes 0..285 (256, the end of block, is counted by the writer) and
// distance codes 0..29.
struct FastTally {
  uint32_t litlen[286];
  uint32_t dist[30];
};

// The codes of every match length and distance, made once for the process.
struct FastCodeTables {
  uint16_t length_symbol[259];  // length -> literal/length code 257..285
  uint8_t length_extra_bits[259];
  uint16_t length_extra[259];        // value of the extra bits
  uint8_t distance_code_small[256];  // distance - 1 below 256 -> code
  uint8_t distance_code_large[256];  // (distance - 1) / 128 from 256 on -> code
  uint16_t distance_base[30];        // first distance - 1 of each code
  uint8_t distance_extra_bits[30];
  // The fixed codes of RFC 1951, bit-reversed, with their lengths.
  uint16_t fixed_litlen_code[288];
  uint8_t fixed_litlen_length[288];
  uint16_t fixed_distance_code[30];
  uint8_t fixed_distance_length[30];

  unsigned DistanceCode(unsigned distance) const {
    unsigned d = distance - 1;
    return d < 256 ? distance_code_small[d] : distance_code_large[d >> 7];
  }
};

const FastCodeTables& GetFastCodeTables();

inline void TallyLiteral(FastTally* tally, unsigned byte) { ++tally->litlen[byte]; }
inline void TallyMatch(const FastCodeTables& tables, FastTally* tally, unsigned length, unsigned distance) {
  ++tally->litlen[tables.length_symbol[length]];
  ++tally->dist[tables.DistanceCode(distance)];
}

// Room the writer may need for a block of raw_size input bytes, beyond
// what is already written: every symbol costs at most two bytes per byte it
// covers, and the block header and the register's store add a little.
inline size_t FastBlockBound(size_t raw_size) { return 2 * raw_size + 1024; }

// Sends one block holding the symbols, which describe exactly the raw bytes
// (needed for a stored block), and clears the tally.
void WriteFastBlock(const FastSymbol* symbols, size_t count, FastTally* tally, const unsigned char* raw,
                    size_t raw_size, bool final, FastBitOutput* out);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_BLOCK_WRITER_H

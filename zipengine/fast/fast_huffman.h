// Length-limited Huffman codes for the fast deflate mode.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_HUFFMAN_H
#define FILEDIST_ZIPENGINE_FAST_FAST_HUFFMAN_H

#include <cstdint>

namespace zipengine {

// Gives symbols 0..count-1 code lengths of at most max_length bits (count is
// at most 2^max_length and at most 320) from their frequencies: an optimal
// prefix code, deepened where it is too long. Symbols of frequency 0 get
// length 0. The code is always complete (every decoder accepts it): when
// fewer than two symbols occur, symbols 0 and 1 stand in to make two codes
// of one bit.
void BuildCodeLengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths);

// Canonical codes of RFC 1951 for the lengths, stored bit-reversed, ready to
// be sent least significant bit first.
void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_HUFFMAN_H

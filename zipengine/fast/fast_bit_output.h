// Bit output of the fast deflate mode: bit fields gathered in a 64-bit
// register (the oldest in the low end, as RFC 1951 packs them) and stored
// eight bytes at a time, of which only the whole bytes count. The caller
// makes sure there is room: eight bytes past the last byte it will write.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_BIT_OUTPUT_H
#define FILEDIST_ZIPENGINE_FAST_FAST_BIT_OUTPUT_H

#include <cstdint>
#include <cstring>

namespace zipengine {

struct FastBitOutput {
  uint64_t bits = 0;              // pending bits
  unsigned count = 0;             // number of pending bits; at most 7 after Flush
  unsigned char* next = nullptr;  // where the next whole byte goes

  // Adds the low `length` bits of value. Between two flushes the additions
  // may total at most 56 bits, so that the register never overflows.
  void Put(uint64_t value, unsigned length) {
    bits |= value << count;
    count += length;
  }

  // Stores the whole bytes gathered so far. All eight bytes of the register
  // are stored at once (both targets are little-endian, so its low byte
  // lands first), then only the whole ones are kept; the rest is
  // overwritten by the next flush.
  void Flush() {
    std::memcpy(next, &bits, 8);
    unsigned whole = count >> 3;
    next += whole;
    bits = whole == 8 ? 0 : bits >> (8 * whole);
    count &= 7;
  }

  // Pads the pending bits with zeros to a byte boundary and stores them.
  void AlignToByte() {
    count = (count + 7) & ~7u;
    Flush();
  }
};

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_BIT_OUTPUT_H

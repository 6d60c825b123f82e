// The compressor's output: bytes and bit fields (filled from the least
// significant bit, as RFC 1951 packs them) gathered in the engine's output
// buffer and written out 16384 bytes at a time.
#ifndef FILEDIST_ZIPENGINE_BIT_WRITER_H
#define FILEDIST_ZIPENGINE_BIT_WRITER_H

#include <cstdint>

#include "zipengine/engine_state.h"

namespace zipengine {

struct BitWriter {
  uint64_t bits = 0;  // pending bits, the oldest in the low end
  unsigned count = 0;  // number of pending bits, below 32 between calls
};

extern BitWriter g_bits;

// Writes out the whole output buffer.
void FlushOutputBuffer();

inline void FlushOutputIfFull() {
  if (g_engine.output_count >= kOutputBufferSize) FlushOutputBuffer();
}

// Whole bytes, with no bits pending.
inline void PutByte(unsigned value) {
  g_engine.output[g_engine.output_count++] = static_cast<unsigned char>(value);
  FlushOutputIfFull();
}
inline void PutShort(unsigned value) {
  PutByte(value & 0xff);
  PutByte((value >> 8) & 0xff);
}
inline void PutLong(uint32_t value) {
  PutShort(value & 0xffff);
  PutShort(value >> 16);
}

// Sends the low `length` bits of value (length at most 16).
inline void SendBits(unsigned value, unsigned length) {
  g_bits.bits |= static_cast<uint64_t>(value) << g_bits.count;
  g_bits.count += length;
  if (g_bits.count >= 32) {
    unsigned char* out = g_engine.output + g_engine.output_count;
    uint32_t word = static_cast<uint32_t>(g_bits.bits);
    out[0] = static_cast<unsigned char>(word);
    out[1] = static_cast<unsigned char>(word >> 8);
    out[2] = static_cast<unsigned char>(word >> 16);
    out[3] = static_cast<unsigned char>(word >> 24);
    g_engine.output_count += 4;
    g_bits.bits >>= 32;
    g_bits.count -= 32;
    FlushOutputIfFull();
  }
}

// Sends the pending bits padded with zeros to a byte boundary.
void AlignToByte();

// Starts with no pending bits.
inline void ResetBits() {
  g_bits.bits = 0;
  g_bits.count = 0;
}

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_BIT_WRITER_H

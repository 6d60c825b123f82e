// The compressor's output: bytes and bit fields (filled from the least
// significant bit, as RFC 1951 packs them) gathered in the engine's output
// buffer and written out 16384 bytes at a time.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_BIT_WRITER_H
#define FILEDIST_ZIPENGINE_CLASSIC_BIT_WRITER_H

#include <cstdint>

#include "zipengine/classic/engine.h"

namespace zipengine {

// Writes out the whole output buffer.
void FlushOutputBuffer(Engine* engine);

inline void FlushOutputIfFull(Engine* engine) {
  if (engine->output_count >= kOutputBufferSize) FlushOutputBuffer(engine);
}

// Whole bytes, with no bits pending.
inline void PutByte(Engine* engine, unsigned value) {
  engine->output[engine->output_count++] = static_cast<unsigned char>(value);
  FlushOutputIfFull(engine);
}
inline void PutShort(Engine* engine, unsigned value) {
  PutByte(engine, value & 0xff);
  PutByte(engine, (value >> 8) & 0xff);
}
inline void PutLong(Engine* engine, uint32_t value) {
  PutShort(engine, value & 0xffff);
  PutShort(engine, value >> 16);
}

// Sends the low `length` bits of value (length at most 16).
inline void SendBits(Engine* engine, unsigned value, unsigned length) {
  BitWriter& b = engine->bits;
  b.bits |= static_cast<uint64_t>(value) << b.count;
  b.count += length;
  if (b.count >= 32) {
    unsigned char* out = engine->output + engine->output_count;
    uint32_t word = static_cast<uint32_t>(b.bits);
    out[0] = static_cast<unsigned char>(word);
    out[1] = static_cast<unsigned char>(word >> 8);
    out[2] = static_cast<unsigned char>(word >> 16);
    out[3] = static_cast<unsigned char>(word >> 24);
    engine->output_count += 4;
    b.bits >>= 32;
    b.count -= 32;
    FlushOutputIfFull(engine);
  }
}

// Sends the pending bits padded with zeros to a byte boundary.
void AlignToByte(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_BIT_WRITER_H

#include "zipengine/bit_writer.h"

#include "zipengine/output_writer.h"

namespace zipengine {

BitWriter g_bits;

void FlushOutputBuffer() {
  WriteToDestination(g_engine.output, g_engine.output_count);
  g_engine.output_count = 0;
}

void AlignToByte() {
  while (g_bits.count > 0) {
    PutByte(static_cast<unsigned>(g_bits.bits & 0xff));
    g_bits.bits >>= 8;
    g_bits.count = g_bits.count > 8 ? g_bits.count - 8 : 0;
  }
  g_bits.bits = 0;
}

}  // namespace zipengine

#include "zipengine/classic/bit_writer.h"

#include "zipengine/classic/output_writer.h"

namespace zipengine {

void FlushOutputBuffer(Engine* engine) {
  WriteToDestination(engine, engine->output, engine->output_count);
  engine->output_count = 0;
}

void AlignToByte(Engine* engine) {
  BitWriter& b = engine->bits;
  while (b.count > 0) {
    PutByte(engine, static_cast<unsigned>(b.bits & 0xff));
    b.bits >>= 8;
    b.count = b.count > 8 ? b.count - 8 : 0;
  }
  b.bits = 0;
}

}  // namespace zipengine

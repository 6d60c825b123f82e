#include "zipengine/classic/window_output.h"

#include <cstring>

#include "zipengine/common/crc32.h"
#include "zipengine/classic/output_writer.h"

namespace zipengine {

void StartWindowOutput(Engine* engine) { engine->decoded = WindowOutput{}; }

void EmitDecoded(Engine* engine, const unsigned char* data, size_t length) {
  if (length == 0) return;
  engine->crc = UpdateCrc32(engine->crc, data, length);
  WriteToDestination(engine, data, length);
  engine->bytes_written += static_cast<uint32_t>(length);
}

void FlushWindow(Engine* engine) {
  WindowOutput& w = engine->decoded;
  EmitDecoded(engine, engine->window + w.flushed, w.fill - w.flushed);
  w.flushed = w.fill;
}

void FlushAndSlideWindow(Engine* engine) {
  FlushWindow(engine);
  WindowOutput& w = engine->decoded;
  if (w.fill <= kWindowSize) return;
  std::memmove(engine->window, engine->window + w.fill - kWindowSize, kWindowSize);
  w.fill = kWindowSize;
  w.flushed = kWindowSize;
}

}  // namespace zipengine

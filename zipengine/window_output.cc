#include "zipengine/window_output.h"

#include <cstring>

#include "zipengine/crc32.h"
#include "zipengine/output_writer.h"

namespace zipengine {

WindowOutput g_window;

void StartWindowOutput() {
  g_window.fill = 0;
  g_window.flushed = 0;
}

void EmitDecoded(const unsigned char* data, size_t length) {
  if (length == 0) return;
  g_engine.crc = UpdateCrc32(g_engine.crc, data, length);
  WriteToDestination(data, length);
  g_engine.bytes_written += static_cast<uint32_t>(length);
}

void FlushWindow() {
  EmitDecoded(g_engine.window + g_window.flushed, g_window.fill - g_window.flushed);
  g_window.flushed = g_window.fill;
}

void FlushAndSlideWindow() {
  FlushWindow();
  if (g_window.fill <= kWindowSize) return;
  std::memmove(g_engine.window, g_engine.window + g_window.fill - kWindowSize, kWindowSize);
  g_window.fill = kWindowSize;
  g_window.flushed = kWindowSize;
}

}  // namespace zipengine

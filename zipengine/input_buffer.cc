#include "zipengine/input_buffer.h"

#include <cerrno>
#include <unistd.h>

#include "zipengine/engine_errors.h"

namespace zipengine {

unsigned FillInputBuffer() {
  g_engine.input_fill = 0;
  errno = 0;
  // Pipes hand out less than asked; keep reading until the buffer is full
  // or the input ends.
  do {
    auto got = read(g_engine.source_fd, g_engine.input + g_engine.input_fill, kInputBufferSize - g_engine.input_fill);
    if (got <= 0) break;
    g_engine.input_fill += static_cast<unsigned>(got);
  } while (g_engine.input_fill < kInputBufferSize);
  if (g_engine.input_fill == 0) ReportReadError(errno);
  g_engine.input_position = 1;
  return g_engine.input[0];
}

}  // namespace zipengine

#include "zipengine/classic/input_buffer.h"

#include <cerrno>
#include <unistd.h>

#include "zipengine/classic/engine_errors.h"

namespace zipengine {

unsigned FillInputBuffer(Engine* engine) {
  engine->input_fill = 0;
  errno = 0;
  // Pipes hand out less than asked; keep reading until the buffer is full
  // or the input ends.
  do {
    auto got = read(engine->source_fd, engine->input + engine->input_fill, kInputBufferSize - engine->input_fill);
    if (got <= 0) break;
    engine->input_fill += static_cast<unsigned>(got);
  } while (engine->input_fill < kInputBufferSize);
  if (engine->input_fill == 0) ReportReadError(engine, errno);
  engine->input_position = 1;
  return engine->input[0];
}

}  // namespace zipengine

#include "zipengine/classic/engine.h"

#include "zipengine/classic/deflate_blocks.h"

namespace zipengine {

Engine* SharedEngine() {
  // Zero-filled before first use like any static object, with no
  // constructor to run: the stored name starts empty.
  static Engine engine;
  return &engine;
}

void BeginRun(Engine* engine, const RunFiles& files) {
  engine->source_fd = files.source_fd;
  engine->destination_fd = files.destination_fd;
  engine->source_name = files.source_name;
  engine->input_position = 0;
  engine->input_fill = 0;
  engine->output_count = 0;
  engine->crc = 0xffffffffu;
  engine->bytes_read = 0;
  engine->bytes_written = 0;
  engine->method = -1;
  engine->zip_entry = 0;
  engine->sizes_in_descriptor = 0;
  engine->match = MatchState{};
  StartBlock(engine);
  engine->bits = BitWriter{};
  engine->decoded = WindowOutput{};
}

}  // namespace zipengine

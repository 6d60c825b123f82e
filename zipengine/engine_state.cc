#include "zipengine/engine_state.h"

namespace zipengine {

EngineState g_engine;

void StartRun() {
  g_engine.input_position = 0;
  g_engine.input_fill = 0;
  g_engine.output_count = 0;
  g_engine.zip_entry = 0;
  g_engine.sizes_in_descriptor = 0;
}

}  // namespace zipengine

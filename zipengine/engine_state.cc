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

const char* ProgramName() {
  // Never set inside the library; printed the way the C runtimes print a
  // null string rather than handed to printf as a null pointer.
  return g_engine.program_name != nullptr ? g_engine.program_name : "(null)";
}

}  // namespace zipengine

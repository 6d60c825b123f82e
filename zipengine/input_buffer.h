// The decompressor's input: the engine's input buffer, refilled from the
// source 32768 bytes at a time.
#ifndef FILEDIST_ZIPENGINE_INPUT_BUFFER_H
#define FILEDIST_ZIPENGINE_INPUT_BUFFER_H

#include "zipengine/engine_state.h"

namespace zipengine {

// Refills the empty buffer and returns its first byte. Running out of input
// here is an error: every caller needs the byte.
unsigned FillInputBuffer();

inline unsigned NextInputByte() {
  return g_engine.input_position < g_engine.input_fill ? g_engine.input[g_engine.input_position++]
                                                        : FillInputBuffer();
}

inline unsigned InputAvailable() { return g_engine.input_fill - g_engine.input_position; }

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_INPUT_BUFFER_H

// The decompressor's input: the engine's input buffer, refilled from the
// source 32768 bytes at a time.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_INPUT_BUFFER_H
#define FILEDIST_ZIPENGINE_CLASSIC_INPUT_BUFFER_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// Refills the empty buffer and returns its first byte. Running out of input
// here is an error: every caller needs the byte.
unsigned FillInputBuffer(Engine* engine);

inline unsigned NextInputByte(Engine* engine) {
  return engine->input_position < engine->input_fill ? engine->input[engine->input_position++]
                                                     : FillInputBuffer(engine);
}

inline unsigned InputAvailable(const Engine* engine) { return engine->input_fill - engine->input_position; }

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_INPUT_BUFFER_H

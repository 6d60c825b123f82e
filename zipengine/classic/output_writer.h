// Writing to the run's destination.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_OUTPUT_WRITER_H
#define FILEDIST_ZIPENGINE_CLASSIC_OUTPUT_WRITER_H

#include <cstddef>

#include "zipengine/classic/engine.h"

namespace zipengine {

// Writes all of data to the destination, repeating short writes; a failed
// write ends the run with a write error.
void WriteToDestination(Engine* engine, const unsigned char* data, size_t length);

// Empties an existing destination before the run writes its first byte, so
// that no bytes of an older, longer file are left after the output.
void EmptyDestination(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_OUTPUT_WRITER_H

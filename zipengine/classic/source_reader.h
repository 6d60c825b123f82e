// The compressor's reads of its source.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_SOURCE_READER_H
#define FILEDIST_ZIPENGINE_CLASSIC_SOURCE_READER_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// One read of at most size bytes into buffer. Returns the number of bytes
// read, 0 at the end of input; a read error also ends the input. The bytes
// read are counted and taken into the CRC register.
long ReadSource(Engine* engine, unsigned char* buffer, unsigned size);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_SOURCE_READER_H

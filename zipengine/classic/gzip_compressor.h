// The compression run: one gzip member (RFC 1952) holding the whole source
// as a deflate stream at level 6.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_GZIP_COMPRESSOR_H
#define FILEDIST_ZIPENGINE_CLASSIC_GZIP_COMPRESSOR_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// Begins a run on engine and compresses the source into the destination,
// storing the engine's input name in the header; returns 0. A write error
// ends in the abort step; a read error is taken as the end of the input.
int CompressRun(Engine* engine, const RunFiles& files);

// What the header stores of a name: the part after the last '/', then after
// the last '\\', then after the last ':'.
const char* GzipBaseName(const char* name);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_GZIP_COMPRESSOR_H

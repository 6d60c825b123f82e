// The decompression run: detects the method, decodes the member or zip
// entry it accepted and checks it against its CRC-32 and length.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_GZIP_DECOMPRESSOR_H
#define FILEDIST_ZIPENGINE_CLASSIC_GZIP_DECOMPRESSOR_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// Begins a run on engine and decompresses the source into the destination.
// Returns 0; -1 when the method detection refuses the input (nothing is
// written) or a zip archive holds a second entry (the first has been written
// in full), with a message on standard error. Every other failure ends in
// the abort step.
int DecompressRun(Engine* engine, const RunFiles& files);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_GZIP_DECOMPRESSOR_H

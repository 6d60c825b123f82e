// The deflate decoder (RFC 1951) of the decompressor.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_INFLATE_DECODER_H
#define FILEDIST_ZIPENGINE_CLASSIC_INFLATE_DECODER_H

#include "zipengine/classic/engine.h"

namespace zipengine {

// Decodes one deflate stream from the engine's input to the destination,
// through the window (see window_output.h). Leaves the input position on
// the first byte after the stream. Returns 0, or 1 for data that breaks
// RFC 1951 (bad block type, stored length and complement that disagree,
// over-subscribed or unusable codes, distances before the start of the
// output). Running out of input ends the run with a read error.
int InflateStream(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_INFLATE_DECODER_H

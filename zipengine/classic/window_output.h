// The decompressor's output window: decoded bytes collect in the engine's
// window, which also serves as the 32768-byte history that matches copy
// from, and leave for the destination about 32 KB at a time.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_WINDOW_OUTPUT_H
#define FILEDIST_ZIPENGINE_CLASSIC_WINDOW_OUTPUT_H

#include <cstddef>

#include "zipengine/classic/engine.h"

namespace zipengine {

// Bytes are decoded linearly into the window; once the fill reaches this
// mark the new bytes are written out and the last 32768 bytes are moved to
// the window's start. A symbol writes at most 258 bytes plus a word of
// slack past the fill, which the mark leaves room for.
constexpr unsigned kWindowFlushMark = 2 * kWindowSize - 512;

// Empties the window: decoding goes on at its start.
void StartWindowOutput(Engine* engine);

// Takes decoded bytes into the CRC register and the byte count and writes
// them to the destination.
void EmitDecoded(Engine* engine, const unsigned char* data, size_t length);

// Writes out what is new in the window and keeps only the history.
void FlushAndSlideWindow(Engine* engine);

// Writes out what is new in the window.
void FlushWindow(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_WINDOW_OUTPUT_H

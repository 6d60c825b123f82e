// Method detection: reads the start of the source and accepts a gzip member
// or a zip archive whose first entry is stored or deflated.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_GZIP_HEADER_H
#define FILEDIST_ZIPENGINE_CLASSIC_GZIP_HEADER_H

#include <cstdint>

#include "zipengine/classic/engine.h"

namespace zipengine {

// Returns the method (8 deflate, 0 stored zip entry; 1 to 3 for formats that
// are recognised but not decoded) with the input position after the header,
// or -1 after writing why the input is refused to standard error. An input
// too short for its header ends the run with a read error.
int DetectMethod(Engine* engine);

inline uint32_t LittleEndian16(const unsigned char* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
inline uint32_t LittleEndian32(const unsigned char* p) { return LittleEndian16(p) | LittleEndian16(p + 2) << 16; }

// Layout of a zip local header.
constexpr unsigned kZipLocalHeaderSize = 30;
constexpr uint32_t kZipLocalSignature = 0x04034b50;
constexpr unsigned kZipFlagsOffset = 6;
constexpr unsigned kZipMethodOffset = 8;
constexpr unsigned kZipCrcOffset = 14;
constexpr unsigned kZipCompressedSizeOffset = 18;
constexpr unsigned kZipSizeOffset = 22;
constexpr unsigned kZipNameLengthOffset = 26;
constexpr unsigned kZipExtraLengthOffset = 28;

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_GZIP_HEADER_H

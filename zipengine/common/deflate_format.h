// The constants of the deflate format (RFC 1951) that every coder of the
// engine, classic or fast, compressing or decompressing, reads the same way:
// the alphabet sizes, the extra bits and bases of the length and distance
// codes, and the order in which a dynamic block sends its code-length code.
#ifndef FILEDIST_ZIPENGINE_COMMON_DEFLATE_FORMAT_H
#define FILEDIST_ZIPENGINE_COMMON_DEFLATE_FORMAT_H

#include <cstdint>

namespace zipengine {

constexpr int kLiterals = 256;
constexpr int kEndOfBlock = 256;
constexpr int kLengthCodes = 29;
constexpr int kLiteralLengthCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDistanceCodes = 30;
constexpr int kCodeLengthCodes = 19;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;

extern const uint8_t kExtraLengthBits[kLengthCodes];
extern const uint8_t kExtraDistanceBits[kDistanceCodes];
extern const uint8_t kExtraCodeLengthBits[kCodeLengthCodes];
// The shortest length and distance of each length and distance code.
extern const uint16_t kLengthBase[kLengthCodes];
extern const uint16_t kDistanceBase[kDistanceCodes];
// The order in which code-length code lengths are sent.
extern const uint8_t kCodeLengthOrder[kCodeLengthCodes];

// Reverses the low `length` bits of code: RFC 1951 sends Huffman codes
// first bit first, and the engine's bit buffers take bits lowest first.
inline unsigned ReverseBits(unsigned code, int length) {
  unsigned result = 0;
  for (int i = 0; i < length; ++i) {
    result = (result << 1) | (code & 1);
    code >>= 1;
  }
  return result;
}

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_COMMON_DEFLATE_FORMAT_H

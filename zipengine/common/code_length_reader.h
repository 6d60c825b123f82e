// The code lengths of a dynamic block (RFC 1951, 3.2.7): once the block's
// code-length code is known, the lengths of its literal/length and distance
// codes follow as one sequence of code-length symbols, 0 to 15 a length of
// their own, 16 a run of the previous length, 17 and 18 runs of zeros. Both
// inflates read them here; each brings its own bit reader and tables.
//
// Source, the decoder's bit reader, provides:
//   int NextCodeLengthSymbol()     the next symbol of the code-length code
//                                  (0 to 18), or -1 when the input holds no
//                                  valid one there
//   unsigned TakeBits(unsigned n)  the next n bits (n at most 7), the first
//                                  one lowest
// Both are called once for each symbol and its extra bits, in that order.
#ifndef FILEDIST_ZIPENGINE_COMMON_CODE_LENGTH_READER_H
#define FILEDIST_ZIPENGINE_COMMON_CODE_LENGTH_READER_H

#include <cstdint>
#include <cstring>

namespace zipengine {

// Fills lengths[0, total) from the source. False for data RFC 1951 forbids:
// an invalid symbol, a repeat of the previous length before any length, or
// a run past total.
template <class Source>
inline bool ReadCodeLengths(Source& source, unsigned total, uint8_t* lengths) {
  for (unsigned i = 0; i < total;) {
    int symbol = source.NextCodeLengthSymbol();
    if (symbol < 0) return false;
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    unsigned repeat;
    if (symbol == 16) {
      if (i == 0) return false;
      value = lengths[i - 1];
      repeat = 3 + source.TakeBits(2);
    } else if (symbol == 17) {
      repeat = 3 + source.TakeBits(3);
    } else {
      repeat = 11 + source.TakeBits(7);
    }
    if (total - i < repeat) return false;
    std::memset(lengths + i, value, repeat);
    i += repeat;
  }
  return true;
}

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_COMMON_CODE_LENGTH_READER_H

#include "zipengine/crc32.h"

#include <cstring>

namespace zipengine {
namespace {

// tables[0] is the usual byte table; tables[k] advances a byte that still
// has k more bytes behind it, so eight bytes fold in with eight independent
// look-ups instead of a chain of eight dependent ones.
struct CrcTables {
  uint32_t t[8][256];
  CrcTables() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
      for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xff];
    }
  }
};

const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

inline uint32_t LoadLittle32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t UpdateCrc32(uint32_t crc, const unsigned char* data, size_t length) {
  const auto& t = Tables().t;
  while (length >= 8) {
    uint32_t low = LoadLittle32(data) ^ crc;
    uint32_t high = LoadLittle32(data + 4);
    crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^
          t[4][low >> 24] ^ t[3][high & 0xff] ^ t[2][(high >> 8) & 0xff] ^
          t[1][(high >> 16) & 0xff] ^ t[0][high >> 24];
    data += 8;
    length -= 8;
  }
  while (length-- != 0) crc = t[0][(crc ^ *data++) & 0xff] ^ (crc >> 8);
  return crc;
}

}  // namespace zipengine

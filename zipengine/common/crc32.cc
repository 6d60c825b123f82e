#include "zipengine/common/crc32.h"

#include <cstring>

namespace zipengine {
namespace {

// tables[0] is the usual byte table; tables[k] advances a byte that still
// has k more bytes behind it, so sixteen bytes fold in with sixteen
// independent look-ups instead of a chain of sixteen dependent ones (twice
// the bytes per step of eight tables, for 8 KiB more of them).
struct CrcTables {
  uint32_t t[16][256];
  CrcTables() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
      for (int k = 1; k < 16; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xff];
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
  while (length >= 16) {
    uint32_t w0 = LoadLittle32(data) ^ crc;
    uint32_t w1 = LoadLittle32(data + 4);
    uint32_t w2 = LoadLittle32(data + 8);
    uint32_t w3 = LoadLittle32(data + 12);
    crc = t[15][w0 & 0xff] ^ t[14][(w0 >> 8) & 0xff] ^ t[13][(w0 >> 16) & 0xff] ^ t[12][w0 >> 24] ^ t[11][w1 & 0xff] ^
          t[10][(w1 >> 8) & 0xff] ^ t[9][(w1 >> 16) & 0xff] ^ t[8][w1 >> 24] ^ t[7][w2 & 0xff] ^
          t[6][(w2 >> 8) & 0xff] ^ t[5][(w2 >> 16) & 0xff] ^ t[4][w2 >> 24] ^ t[3][w3 & 0xff] ^ t[2][(w3 >> 8) & 0xff] ^
          t[1][(w3 >> 16) & 0xff] ^ t[0][w3 >> 24];
    data += 16;
    length -= 16;
  }
  if (length >= 8) {
    uint32_t low = LoadLittle32(data) ^ crc;
    uint32_t high = LoadLittle32(data + 4);
    crc = t[7][low & 0xff] ^ t[6][(low >> 8) & 0xff] ^ t[5][(low >> 16) & 0xff] ^ t[4][low >> 24] ^ t[3][high & 0xff] ^
          t[2][(high >> 8) & 0xff] ^ t[1][(high >> 16) & 0xff] ^ t[0][high >> 24];
    data += 8;
    length -= 8;
  }
  while (length-- != 0) crc = t[0][(crc ^ *data++) & 0xff] ^ (crc >> 8);
  return crc;
}

}  // namespace zipengine

#include "fileio/md5.h"

#include <cstring>

namespace {

// Blocks are hashed straight from the caller's buffer: one load per word,
// which compilers make a plain move on little-endian machines.
inline uint32_t LoadLittleEndian(const unsigned char* p) {
  uint32_t value;
  std::memcpy(&value, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  value = __builtin_bswap32(value);
#endif
  return value;
}

inline void StoreLittleEndian(uint32_t value, unsigned char* p) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
  p[2] = static_cast<unsigned char>(value >> 16);
  p[3] = static_cast<unsigned char>(value >> 24);
}

// A rotation by a constant, which compilers emit as one rotate instruction.
template <int n>
inline uint32_t RotateLeft(uint32_t x) {
  static_assert(n > 0 && n < 32, "a rotation by 1 to 31 bits");
  return (x << n) | (x >> (32 - n));
}

// MD5 is one chain of 64 dependent steps, so its speed is the latency of a
// step: from the moment the previous step's result b is known to the moment
// this step's is. Each step adds the message word and the constant to a
// before b arrives, and adds b's auxiliary function last, in forms where as
// little as possible waits for b (the cycles counted after b arrives):
//   F = d ^ (b & (c ^ d))             and, xor, add, rotate, add: 5
//   G = (b & d) + (c & ~d)            the two parts share no bit, so they
//                                     are added apart and c & ~d early: 4
//   H = b ^ (c ^ d)                   c ^ d early: 4
//   I = c ^ (b | ~d)                  ~d early: 5
// against 5, 6, 4 and 5 for the textbook forms: 288 cycles a block instead
// of 320. Two-input operations cannot do F or I in fewer.
#define MD5_STEP_F(a, b, c, d, x, t, s) \
  (a) += (x) + (t);                     \
  (a) += (d) ^ ((b) & ((c) ^ (d)));     \
  (a) = RotateLeft<s>(a) + (b)
#define MD5_STEP_G(a, b, c, d, x, t, s) \
  (a) += (x) + (t);                     \
  (a) += (c) & ~(d);                    \
  (a) += (b) & (d);                     \
  (a) = RotateLeft<s>(a) + (b)
#define MD5_STEP_H(a, b, c, d, x, t, s) \
  (a) += (x) + (t);                     \
  (a) += (b) ^ ((c) ^ (d));             \
  (a) = RotateLeft<s>(a) + (b)
#define MD5_STEP_I(a, b, c, d, x, t, s) \
  (a) += (x) + (t);                     \
  (a) += (c) ^ ((b) | ~(d));            \
  (a) = RotateLeft<s>(a) + (b)

// Hashes whole 64-byte blocks, read in place: a large buffer costs no copy.
void Transform(uint32_t chain[4], const unsigned char* data, size_t blocks) {
  uint32_t a = chain[0], b = chain[1], c = chain[2], d = chain[3];
  for (; blocks > 0; --blocks, data += 64) {
    // The words are read where a step needs them: kept in a local array
    // they would crowd the eight registers of the 32-bit target.
#define X(i) LoadLittleEndian(data + 4 * (i))
    const uint32_t aa = a, bb = b, cc = c, dd = d;

    MD5_STEP_F(a, b, c, d, X(0), 0xd76aa478, 7);
    MD5_STEP_F(d, a, b, c, X(1), 0xe8c7b756, 12);
    MD5_STEP_F(c, d, a, b, X(2), 0x242070db, 17);
    MD5_STEP_F(b, c, d, a, X(3), 0xc1bdceee, 22);
    MD5_STEP_F(a, b, c, d, X(4), 0xf57c0faf, 7);
    MD5_STEP_F(d, a, b, c, X(5), 0x4787c62a, 12);
    MD5_STEP_F(c, d, a, b, X(6), 0xa8304613, 17);
    MD5_STEP_F(b, c, d, a, X(7), 0xfd469501, 22);
    MD5_STEP_F(a, b, c, d, X(8), 0x698098d8, 7);
    MD5_STEP_F(d, a, b, c, X(9), 0x8b44f7af, 12);
    MD5_STEP_F(c, d, a, b, X(10), 0xffff5bb1, 17);
    MD5_STEP_F(b, c, d, a, X(11), 0x895cd7be, 22);
    MD5_STEP_F(a, b, c, d, X(12), 0x6b901122, 7);
    MD5_STEP_F(d, a, b, c, X(13), 0xfd987193, 12);
    MD5_STEP_F(c, d, a, b, X(14), 0xa679438e, 17);
    MD5_STEP_F(b, c, d, a, X(15), 0x49b40821, 22);

    MD5_STEP_G(a, b, c, d, X(1), 0xf61e2562, 5);
    MD5_STEP_G(d, a, b, c, X(6), 0xc040b340, 9);
    MD5_STEP_G(c, d, a, b, X(11), 0x265e5a51, 14);
    MD5_STEP_G(b, c, d, a, X(0), 0xe9b6c7aa, 20);
    MD5_STEP_G(a, b, c, d, X(5), 0xd62f105d, 5);
    MD5_STEP_G(d, a, b, c, X(10), 0x02441453, 9);
    MD5_STEP_G(c, d, a, b, X(15), 0xd8a1e681, 14);
    MD5_STEP_G(b, c, d, a, X(4), 0xe7d3fbc8, 20);
    MD5_STEP_G(a, b, c, d, X(9), 0x21e1cde6, 5);
    MD5_STEP_G(d, a, b, c, X(14), 0xc33707d6, 9);
    MD5_STEP_G(c, d, a, b, X(3), 0xf4d50d87, 14);
    MD5_STEP_G(b, c, d, a, X(8), 0x455a14ed, 20);
    MD5_STEP_G(a, b, c, d, X(13), 0xa9e3e905, 5);
    MD5_STEP_G(d, a, b, c, X(2), 0xfcefa3f8, 9);
    MD5_STEP_G(c, d, a, b, X(7), 0x676f02d9, 14);
    MD5_STEP_G(b, c, d, a, X(12), 0x8d2a4c8a, 20);

    MD5_STEP_H(a, b, c, d, X(5), 0xfffa3942, 4);
    MD5_STEP_H(d, a, b, c, X(8), 0x8771f681, 11);
    MD5_STEP_H(c, d, a, b, X(11), 0x6d9d6122, 16);
    MD5_STEP_H(b, c, d, a, X(14), 0xfde5380c, 23);
    MD5_STEP_H(a, b, c, d, X(1), 0xa4beea44, 4);
    MD5_STEP_H(d, a, b, c, X(4), 0x4bdecfa9, 11);
    MD5_STEP_H(c, d, a, b, X(7), 0xf6bb4b60, 16);
    MD5_STEP_H(b, c, d, a, X(10), 0xbebfbc70, 23);
    MD5_STEP_H(a, b, c, d, X(13), 0x289b7ec6, 4);
    MD5_STEP_H(d, a, b, c, X(0), 0xeaa127fa, 11);
    MD5_STEP_H(c, d, a, b, X(3), 0xd4ef3085, 16);
    MD5_STEP_H(b, c, d, a, X(6), 0x04881d05, 23);
    MD5_STEP_H(a, b, c, d, X(9), 0xd9d4d039, 4);
    MD5_STEP_H(d, a, b, c, X(12), 0xe6db99e5, 11);
    MD5_STEP_H(c, d, a, b, X(15), 0x1fa27cf8, 16);
    MD5_STEP_H(b, c, d, a, X(2), 0xc4ac5665, 23);

    MD5_STEP_I(a, b, c, d, X(0), 0xf4292244, 6);
    MD5_STEP_I(d, a, b, c, X(7), 0x432aff97, 10);
    MD5_STEP_I(c, d, a, b, X(14), 0xab9423a7, 15);
    MD5_STEP_I(b, c, d, a, X(5), 0xfc93a039, 21);
    MD5_STEP_I(a, b, c, d, X(12), 0x655b59c3, 6);
    MD5_STEP_I(d, a, b, c, X(3), 0x8f0ccc92, 10);
    MD5_STEP_I(c, d, a, b, X(10), 0xffeff47d, 15);
    MD5_STEP_I(b, c, d, a, X(1), 0x85845dd1, 21);
    MD5_STEP_I(a, b, c, d, X(8), 0x6fa87e4f, 6);
    MD5_STEP_I(d, a, b, c, X(15), 0xfe2ce6e0, 10);
    MD5_STEP_I(c, d, a, b, X(6), 0xa3014314, 15);
    MD5_STEP_I(b, c, d, a, X(13), 0x4e0811a1, 21);
    MD5_STEP_I(a, b, c, d, X(4), 0xf7537e82, 6);
    MD5_STEP_I(d, a, b, c, X(11), 0xbd3af235, 10);
    MD5_STEP_I(c, d, a, b, X(2), 0x2ad7d2bb, 15);
    MD5_STEP_I(b, c, d, a, X(9), 0xeb86d391, 21);
#undef X

    a += aa;
    b += bb;
    c += cc;
    d += dd;
  }
  chain[0] = a;
  chain[1] = b;
  chain[2] = c;
  chain[3] = d;
}

#undef MD5_STEP_F
#undef MD5_STEP_G
#undef MD5_STEP_H
#undef MD5_STEP_I

}  // namespace

void Md5Init(Md5State* state) {
  state->chain[0] = 0x67452301;
  state->chain[1] = 0xefcdab89;
  state->chain[2] = 0x98badcfe;
  state->chain[3] = 0x10325476;
  state->bit_count[0] = 0;
  state->bit_count[1] = 0;
}

void Md5Update(Md5State* state, const void* data, size_t length) {
  const unsigned char* input = static_cast<const unsigned char*>(data);
  size_t buffered = (state->bit_count[0] >> 3) & 63;
  uint64_t bits = (static_cast<uint64_t>(state->bit_count[1]) << 32 | state->bit_count[0]) +
                  (static_cast<uint64_t>(length) << 3);
  state->bit_count[0] = static_cast<uint32_t>(bits);
  state->bit_count[1] = static_cast<uint32_t>(bits >> 32);

  if (buffered > 0) {
    size_t room = 64 - buffered;
    if (length < room) {
      std::memcpy(state->block + buffered, input, length);
      return;
    }
    std::memcpy(state->block + buffered, input, room);
    Transform(state->chain, state->block, 1);
    input += room;
    length -= room;
  }
  // Whole blocks are hashed straight from the input.
  Transform(state->chain, input, length / 64);
  input += length & ~static_cast<size_t>(63);
  std::memcpy(state->block, input, length & 63);
}

void Md5Final(Md5State* state, unsigned char digest[16]) {
  static const unsigned char kPadding[64] = {0x80};
  unsigned char length_bytes[8];
  StoreLittleEndian(state->bit_count[0], length_bytes);
  StoreLittleEndian(state->bit_count[1], length_bytes + 4);
  size_t buffered = (state->bit_count[0] >> 3) & 63;
  size_t pad = buffered < 56 ? 56 - buffered : 120 - buffered;
  Md5Update(state, kPadding, pad);
  Md5Update(state, length_bytes, 8);
  for (int i = 0; i < 4; ++i) StoreLittleEndian(state->chain[i], digest + 4 * i);
  volatile unsigned char* wipe = reinterpret_cast<volatile unsigned char*>(state);
  for (size_t i = 0; i < sizeof(*state); ++i) wipe[i] = 0;
}

// The compressor's sliding window, hash chains and longest-match search,
// with the parameters of level 6.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_MATCH_FINDER_H
#define FILEDIST_ZIPENGINE_CLASSIC_MATCH_FINDER_H

#include <cstdint>
#include <cstring>

#include "zipengine/classic/deflate_tables.h"
#include "zipengine/classic/engine.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#  error "the match comparison reads words as little-endian"
#endif

namespace zipengine {

constexpr unsigned kHashBits = 15;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;                              // three shifts push a byte out of the key
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;   // 262
constexpr unsigned kMaxDistance = kWindowSize - kMinLookahead;  // 32506
constexpr unsigned kGoodMatch = 8;
constexpr unsigned kMaxLazyMatch = 16;
constexpr unsigned kNiceMatch = 128;
constexpr unsigned kMaxChain = 128;
constexpr unsigned kTooFar = 4096;

inline unsigned UpdateHash(unsigned key, unsigned byte) { return ((key << kHashShift) ^ byte) & kHashMask; }

// Links position into the chain of its three-byte key and returns the
// previous head of that chain (0 for none).
inline unsigned InsertString(Engine* engine, unsigned position, unsigned& hash_key) {
  hash_key = UpdateHash(hash_key, engine->window[position + kMinMatch - 1]);
  unsigned head = engine->hash_head[hash_key];
  engine->hash_chain[position & kWindowMask] = static_cast<uint16_t>(head);
  engine->hash_head[hash_key] = static_cast<uint16_t>(position);
  return head;
}

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Number of equal bytes at a and b, at most kMaxMatch - 2, compared a word
// at a time.
inline unsigned CommonLength(const unsigned char* a, const unsigned char* b) {
  unsigned length = 0;
  do {
    uint64_t difference = Load64(a + length) ^ Load64(b + length);
    if (difference != 0) return length + (static_cast<unsigned>(__builtin_ctzll(difference)) >> 3);
    length += 8;
  } while (length < kMaxMatch - 2);
  return kMaxMatch - 2;
}

// Longest match for the string at the match finder's position along the
// chain starting at chain_head, longer than previous_length; sets its
// match_start when it finds one. The result may run past the lookahead; the caller clips it.
// Kept out of line: the chain walk needs all the registers it can get.
unsigned LongestMatch(Engine* engine, unsigned chain_head, unsigned previous_length);

// Slides the window when the position nears its end and reads more input
// into the free space.
void FillWindow(Engine* engine);

// Clears the window and the hash heads, which the run begun left as the
// previous run had them, and reads the first input.
void ReadFirstWindow(Engine* engine);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_MATCH_FINDER_H

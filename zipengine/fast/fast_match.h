// Match finding of the fast deflate mode: hash chains over a buffer that
// holds the last 32 KiB of history before the bytes being parsed. A search
// walks a bounded number of links, so a position costs a bounded amount of
// work whatever the data.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_MATCH_H
#define FILEDIST_ZIPENGINE_FAST_FAST_MATCH_H

#include <cstdint>
#include <cstring>
#include <memory>

namespace zipengine {

constexpr int kFastWindow = 32768;  // largest distance
constexpr int kFastMaxMatch = 258;
// Loads of up to eight bytes start at any byte of the data, so this many
// bytes follow it in the buffer.
constexpr int kFastBufferSpare = 16;

inline uint32_t FastLoad32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint64_t FastLoad64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Number of equal bytes at a and b, at most limit. Eight bytes are compared
// at a time; the lowest set bit of their difference tells where the strings
// part (both targets load little-endian, so the low byte is the first).
inline int FastMatchLength(const unsigned char* a, const unsigned char* b, int limit) {
  int n = 0;
  while (n + 8 <= limit) {
    uint64_t diff = FastLoad64(a + n) ^ FastLoad64(b + n);
    if (diff != 0) {
      int same = n + (__builtin_ctzll(diff) >> 3);
      return same < limit ? same : limit;
    }
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// How hard a search tries: links walked in the long-string chain and in
// the four-byte chain, and the length at which a match is good enough.
struct FastSearchEffort {
  int long_depth;
  int short_depth;
  int nice_len;
};

struct FastMatchFinder {
  // Four head entries per window position: strings of different hashes
  // then seldom share a chain, so a walk spends its links on real
  // candidates (faster than 2^15 heads, and the output slightly smaller).
  static constexpr int kHashBits = 17;
  static constexpr int kHash3Bits = 12;
  static constexpr int32_t kNone = -(1 << 30);
  // A match of three bytes is taken only this near: farther, its distance
  // code costs about as much as the three literals.
  static constexpr int32_t kNear3 = 4096;
  // Strings of this many bytes key the long chain.
  static constexpr int kLongKey = 8;

  // Positions are indices into the parser's buffer; a slide of the buffer
  // moves them down. kNone and anything more than a window behind the
  // current position mean "no earlier string". The chain slot of a
  // position holds the previous position of the same hash.
  //
  // Two chains: one keyed by eight bytes, whose positions nearly all match
  // the current string for eight bytes or more, so that a few links find
  // the long matches even where short strings repeat everywhere (text of a
  // small vocabulary, machine code); and one keyed by four bytes for the
  // short matches when the long chain has none. Beside them, the latest
  // position of every three-byte hash, for near matches of three bytes.
  std::unique_ptr<int32_t[]> head{new int32_t[1 << kHashBits]};
  std::unique_ptr<int32_t[]> chain{new int32_t[kFastWindow]};
  std::unique_ptr<int32_t[]> long_head{new int32_t[1 << kHashBits]};
  std::unique_ptr<int32_t[]> long_chain{new int32_t[kFastWindow]};
  std::unique_ptr<int32_t[]> head3{new int32_t[1 << kHash3Bits]};
  int hash_bits = kHashBits;  // bits in use: fewer for small inputs

  // Empties the tables for a new input of about `expected` bytes (0 when
  // unknown): a small input uses, and clears, only part of the head tables.
  void Reset(size_t expected);

  // Moves every position down by `shift`, a multiple of the window size (so
  // that chain slots keep their places).
  void Slide(int32_t shift);

  // Hashes of the first four, eight and three of the bytes a load of eight
  // gave (little-endian: the first byte is the low one), by multiplication:
  // the high bits of the product depend on every byte.
  static uint32_t Hash4(uint64_t bytes, int bits) {
    return (static_cast<uint32_t>(bytes) * 0x9E3779B1u) >> (32 - bits);
  }
  static uint32_t Hash8(uint64_t bytes, int bits) {
    return static_cast<uint32_t>((bytes * 0x9E3779B97F4A7C15ull) >> (64 - bits));
  }
  static uint32_t Hash3(uint64_t bytes) {
    return ((static_cast<uint32_t>(bytes) << 8) * 0x9E3779B1u) >> (32 - kHash3Bits);
  }

  // Links positions from..to-1 into the chains. The tables and the hash
  // width are held in locals: stores into the tables could otherwise be
  // taken to change them, and they would be read again at every position.
  void InsertRange(const unsigned char* buffer, int32_t from, int32_t to) {
    int32_t* const short_heads = head.get();
    int32_t* const long_heads = long_head.get();
    int32_t* const short_links = chain.get();
    int32_t* const long_links = long_chain.get();
    int32_t* const heads3 = head3.get();
    const int bits = hash_bits;
    for (int32_t pos = from; pos < to; ++pos) {
      const uint64_t bytes = FastLoad64(buffer + pos);
      const int32_t slot = pos & (kFastWindow - 1);
      const uint32_t h = Hash4(bytes, bits);
      const uint32_t h8 = Hash8(bytes, bits);
      short_links[slot] = short_heads[h];
      short_heads[h] = pos;
      long_links[slot] = long_heads[h8];
      long_heads[h8] = pos;
      heads3[Hash3(bytes)] = pos;
    }
  }

  // Walks up to depth links of a chain from candidate, keeping in *best_len
  // (at least 2 on entry) and *distance the longest match found (only
  // longer ones replace it, so among equals the nearest wins). True when
  // the search may stop. The long chain's candidates nearly all share their
  // first eight bytes with the current string, so only the short chain's
  // are checked for the first four before the full comparison; either way
  // the comparison decides.
  template <bool kCheckFirst>
  static bool Walk(const unsigned char* buffer, int32_t pos, int32_t candidate, const int32_t* links, int depth,
                   int max_len, int nice_len, int* best_len, int* distance) {
    const unsigned char* here = buffer + pos;
    const uint32_t first = FastLoad32(here);
    int best = *best_len;
    // Only a candidate that also agrees on the four bytes that end at the
    // byte that would make it longer than the best so far can win; most
    // fail on that load and the next.
    int tail = best < 3 ? 0 : best - 3;
    uint32_t here_tail = FastLoad32(here + tail);
    // One unsigned test keeps the candidate between one and a window's
    // length (less one) behind: it also ends the walk at kNone, and at a
    // link that does not lead back (none should, but a walk must end).
    while (static_cast<uint32_t>(pos - candidate - 1) < static_cast<uint32_t>(kFastWindow - 1) && depth-- > 0) {
      const unsigned char* there = buffer + candidate;
      if (FastLoad32(there + tail) == here_tail && (!kCheckFirst || FastLoad32(there) == first)) {
        int len = FastMatchLength(there, here, max_len);
        if (len > best) {
          tail = len - 3;
          here_tail = FastLoad32(here + tail);
          best = len;
          *best_len = len;
          *distance = pos - candidate;
          if (len >= nice_len || len >= max_len) return true;
        }
      }
      candidate = links[candidate & (kFastWindow - 1)];
    }
    return false;
  }

  // Links pos into the chains and looks for an earlier match longer than
  // best_len (at least 2): first in the long chain, then, when that gave
  // nothing long, in the four-byte chain, and failing both a near match of
  // three bytes. Returns its length and sets *distance, or returns best_len
  // when there is none. max_len (4 to 258) bounds the match by the data
  // available.
  int FindAndInsert(const unsigned char* buffer, int32_t pos, int max_len, int best_len, const FastSearchEffort& effort,
                    int* distance) {
    const unsigned char* here = buffer + pos;
    const int32_t slot = pos & (kFastWindow - 1);
    const uint64_t bytes = FastLoad64(here);
    const uint32_t h = Hash4(bytes, hash_bits);
    const uint32_t h8 = Hash8(bytes, hash_bits);
    const uint32_t h3 = Hash3(bytes);
    int32_t* const short_heads = head.get();
    int32_t* const long_heads = long_head.get();
    const int32_t candidate = short_heads[h];
    const int32_t long_candidate = long_heads[h8];
    const int32_t near3 = head3[h3];
    chain[slot] = candidate;
    short_heads[h] = pos;
    long_chain[slot] = long_candidate;
    long_heads[h8] = pos;
    head3[h3] = pos;
    if (best_len >= max_len) return best_len;

    const int asked = best_len;
    if (Walk<false>(buffer, pos, long_candidate, long_chain.get(), effort.long_depth, max_len, effort.nice_len,
                    &best_len, distance)) {
      return best_len;
    }
    if (best_len < kLongKey && Walk<true>(buffer, pos, candidate, chain.get(), effort.short_depth, max_len,
                                          effort.nice_len, &best_len, distance)) {
      return best_len;
    }
    if (asked < 3 && best_len == asked && near3 > pos - kNear3 && near3 < pos &&
        (FastLoad32(buffer + near3) & 0xffffff) == (FastLoad32(here) & 0xffffff)) {
      best_len = 3;
      *distance = pos - near3;
    }
    return best_len;
  }
};

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_MATCH_H

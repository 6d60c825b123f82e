#include "zipengine/fast/fast_match.h"

namespace zipengine {

void FastMatchFinder::Reset(size_t expected) {
  // About two head entries per input byte is as good as a full table, and a
  // small file then clears only a few kilobytes.
  hash_bits = kHashBits;
  if (expected != 0) {
    int bits = 10;
    while (bits < kHashBits && (size_t{1} << bits) < 2 * expected) ++bits;
    hash_bits = bits;
  }
  for (int i = 0; i < (1 << hash_bits); ++i) head[i] = long_head[i] = kNone;
  for (int i = 0; i < (1 << kHash3Bits); ++i) head3[i] = kNone;
  // Chain slots need no clearing: a slot is only read for a position that
  // was linked, and linking writes it.
}

void FastMatchFinder::Slide(int32_t shift) {
  auto move = [shift](int32_t* table, int size) {
    for (int i = 0; i < size; ++i) {
      int32_t value = table[i];
      table[i] = value - shift < -kFastWindow ? kNone : value - shift;
    }
  };
  move(head.get(), 1 << hash_bits);
  move(long_head.get(), 1 << hash_bits);
  move(chain.get(), kFastWindow);
  move(long_chain.get(), kFastWindow);
  move(head3.get(), 1 << kHash3Bits);
}

}  // namespace zipengine

#include "zipengine/fast/fast_huffman.h"

#include <algorithm>

namespace zipengine {
namespace {

constexpr int kMaxSymbols = 320;
constexpr int kMaxDepth = kMaxSymbols;  // a degenerate tree is at most this deep

}  // namespace

void BuildCodeLengths(const uint32_t* freq, int count, int max_length, uint8_t* lengths) {
  int used[kMaxSymbols];
  int n = 0;
  for (int s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (freq[s] != 0) used[n++] = s;
  }
  if (n < 2) {
    // One code alone would be an incomplete code, which strict decoders
    // refuse for a literal/length tree.
    int other = (n == 1 && used[0] == 0) ? 1 : 0;
    if (n == 0) {
      lengths[0] = lengths[1] = 1;
    } else {
      lengths[used[0]] = 1;
      lengths[other] = 1;
    }
    return;
  }
  // Least frequent first; ties by symbol so that the result does not depend
  // on the sort's stability.
  std::sort(used, used + n, [freq](int a, int b) { return freq[a] != freq[b] ? freq[a] < freq[b] : a < b; });

  // Leaves 0..n-1 in frequency order, inner nodes n..2n-2 made in order of
  // rising weight (two queues), so every parent has a higher index than its
  // children and depths follow in one pass downwards.
  uint32_t weight[2 * kMaxSymbols];
  int parent[2 * kMaxSymbols];
  for (int i = 0; i < n; ++i) weight[i] = freq[used[i]];
  int leaf = 0;
  int inner = n;
  for (int made = n; made < 2 * n - 1; ++made) {
    int pick[2];
    for (int& p : pick) {
      if (leaf < n && (inner >= made || weight[leaf] <= weight[inner])) {
        p = leaf++;
      } else {
        p = inner++;
      }
    }
    weight[made] = weight[pick[0]] + weight[pick[1]];
    parent[pick[0]] = parent[pick[1]] = made;
  }
  int depth[2 * kMaxSymbols];
  depth[2 * n - 2] = 0;
  int length_count[kMaxDepth + 1] = {};
  int deepest = 0;
  for (int node = 2 * n - 3; node >= 0; --node) {
    depth[node] = depth[parent[node]] + 1;
    if (node < n) {
      ++length_count[depth[node]];
      deepest = std::max(deepest, depth[node]);
    }
  }

  // Too deep: move pairs of leaves up while keeping the code complete. Two
  // sibling leaves at the deepest level go away, one of them takes its
  // parent's place, and the other joins a shallower leaf as its sibling.
  for (int level = deepest; level > max_length; --level) {
    while (length_count[level] > 0) {
      int shallow = level - 2;
      while (length_count[shallow] == 0) --shallow;
      length_count[level] -= 2;
      length_count[level - 1] += 1;
      length_count[shallow + 1] += 2;
      length_count[shallow] -= 1;
    }
  }
  // The longest codes to the least frequent symbols.
  int next = 0;
  for (int level = std::min(deepest, max_length); level >= 1; --level) {
    for (int k = 0; k < length_count[level]; ++k) lengths[used[next++]] = static_cast<uint8_t>(level);
  }
}

void BuildCanonicalCodes(const uint8_t* lengths, int count, uint16_t* codes) {
  int length_count[16] = {};
  for (int s = 0; s < count; ++s) ++length_count[lengths[s]];
  length_count[0] = 0;
  unsigned next_code[16];
  unsigned code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + length_count[bits - 1]) << 1;
    next_code[bits] = code;
  }
  for (int s = 0; s < count; ++s) {
    int len = lengths[s];
    if (len == 0) {
      codes[s] = 0;
      continue;
    }
    unsigned value = next_code[len]++;
    unsigned reversed = 0;
    for (int i = 0; i < len; ++i) {
      reversed = (reversed << 1) | (value & 1);
      value >>= 1;
    }
    codes[s] = static_cast<uint16_t>(reversed);
  }
}

}  // namespace zipengine

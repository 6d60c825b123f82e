#include "zipengine/classic/huffman_builder.h"

namespace zipengine {
namespace {

constexpr int kHeapSize = 2 * kLiteralLengthCodes + 1;

struct Heap {
  int node[kHeapSize];
  uint8_t depth[kHeapSize];
  int length = 0;       // heap proper: node[1..length]
  int max = kHeapSize;  // nodes taken out, in order, fill node[max..] downwards
};

// Less frequent first; among equal frequencies the shallower subtree, which
// keeps the tree flat.
inline bool Smaller(const TreeNode* tree, const Heap& heap, int a, int b) {
  return tree[a].freq < tree[b].freq || (tree[a].freq == tree[b].freq && heap.depth[a] <= heap.depth[b]);
}

void SiftDown(const TreeNode* tree, Heap& heap, int k) {
  int v = heap.node[k];
  int j = k << 1;
  while (j <= heap.length) {
    if (j < heap.length && Smaller(tree, heap, heap.node[j + 1], heap.node[j])) ++j;
    if (Smaller(tree, heap, v, heap.node[j])) break;
    heap.node[k] = heap.node[j];
    k = j;
    j <<= 1;
  }
  heap.node[k] = v;
}

// Lengths from the tree's shape, cut to max_length; the cut leaves are then
// redistributed so the lengths still form a complete prefix code.
void AssignLengths(TreeNode* tree, const TreeShape& shape, int max_code, Heap& heap, BlockCost* cost,
                   uint16_t* counts) {
  for (int bits = 0; bits <= kMaxCodeBits; ++bits) counts[bits] = 0;
  tree[heap.node[heap.max]].len = 0;  // the root
  int overflow = 0;
  int h;
  for (h = heap.max + 1; h < kHeapSize; ++h) {
    int n = heap.node[h];
    int bits = tree[tree[n].dad].len + 1;
    if (bits > shape.max_length) {
      bits = shape.max_length;
      ++overflow;
    }
    tree[n].len = static_cast<uint16_t>(bits);
    if (n > max_code) continue;  // not a leaf
    ++counts[bits];
    int extra = (shape.extra_bits != nullptr && n >= shape.extra_base) ? shape.extra_bits[n - shape.extra_base] : 0;
    uint32_t f = tree[n].freq;
    cost->dynamic_bits += f * static_cast<uint32_t>(bits + extra);
    if (shape.fixed_tree != nullptr) cost->fixed_bits += f * static_cast<uint32_t>(shape.fixed_tree[n].len + extra);
  }
  if (overflow == 0) return;

  // Every cut below a node at the limit over-fills the code by half a slot
  // of the limit's length; move one leaf down from a shorter length and drop
  // one from the limit until the code fits.
  do {
    int bits = shape.max_length - 1;
    while (counts[bits] == 0) --bits;
    --counts[bits];
    counts[bits + 1] += 2;
    --counts[shape.max_length];
    overflow -= 2;
  } while (overflow > 0);

  // Hand the lengths out again, the longest to the least frequent leaves
  // (the nodes were taken out of the heap least frequent first).
  h = kHeapSize;
  for (int bits = shape.max_length; bits != 0; --bits) {
    int n = counts[bits];
    while (n != 0) {
      int m = heap.node[--h];
      if (m > max_code) continue;
      if (tree[m].len != bits) {
        cost->dynamic_bits +=
            static_cast<uint32_t>((bits - static_cast<int>(tree[m].len)) * static_cast<int>(tree[m].freq));
        tree[m].len = static_cast<uint16_t>(bits);
      }
      --n;
    }
  }
}

}  // namespace

void AssignCodes(TreeNode* tree, int max_code, const uint16_t* counts) {
  uint16_t next_code[kMaxCodeBits + 1];
  unsigned code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
    code = (code + counts[bits - 1]) << 1;
    next_code[bits] = static_cast<uint16_t>(code);
  }
  for (int n = 0; n <= max_code; ++n) {
    int len = tree[n].len;
    if (len == 0) continue;
    tree[n].code = static_cast<uint16_t>(ReverseBits(next_code[len]++, len));
  }
}

int BuildTree(TreeNode* tree, const TreeShape& shape, BlockCost* cost) {
  Heap heap;
  int max_code = -1;
  for (int n = 0; n < shape.elements; ++n) {
    if (tree[n].freq != 0) {
      heap.node[++heap.length] = max_code = n;
      heap.depth[n] = 0;
    } else {
      tree[n].len = 0;
    }
  }
  // A code needs two symbols at least; the one added is never sent, so its
  // cost is taken back beforehand (symbols 0 and 1 carry no extra bits).
  while (heap.length < 2) {
    int added = heap.node[++heap.length] = (max_code < 2 ? ++max_code : 0);
    tree[added].freq = 1;
    heap.depth[added] = 0;
    cost->dynamic_bits -= 1;
    if (shape.fixed_tree != nullptr) cost->fixed_bits -= shape.fixed_tree[added].len;
  }
  for (int n = heap.length / 2; n >= 1; --n) SiftDown(tree, heap, n);

  int node = shape.elements;
  do {
    int n = heap.node[1];
    heap.node[1] = heap.node[heap.length--];
    SiftDown(tree, heap, 1);
    int m = heap.node[1];
    heap.node[--heap.max] = n;
    heap.node[--heap.max] = m;
    tree[node].freq = tree[n].freq + tree[m].freq;
    heap.depth[node] = static_cast<uint8_t>((heap.depth[n] >= heap.depth[m] ? heap.depth[n] : heap.depth[m]) + 1);
    tree[n].dad = tree[m].dad = static_cast<uint16_t>(node);
    heap.node[1] = node++;
    SiftDown(tree, heap, 1);
  } while (heap.length >= 2);
  heap.node[--heap.max] = heap.node[1];

  uint16_t counts[kMaxCodeBits + 1];
  AssignLengths(tree, shape, max_code, heap, cost, counts);
  AssignCodes(tree, max_code, counts);
  return max_code;
}

}  // namespace zipengine

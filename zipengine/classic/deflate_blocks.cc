#include "zipengine/classic/deflate_blocks.h"

#include <cstring>

#include "zipengine/classic/bit_writer.h"
#include "zipengine/classic/huffman_builder.h"

namespace zipengine {

namespace {

constexpr int kStoredBlock = 0;
constexpr int kFixedBlock = 1;
constexpr int kDynamicBlock = 2;
constexpr int kRepeatPrevious = 16;  // 3..6 copies of the previous length
constexpr int kRepeatZero3 = 17;     // 3..10 zeros
constexpr int kRepeatZero11 = 18;    // 11..138 zeros

// Walks the code lengths of tree[0..max_code] in runs, calling
// visit(symbol, repeat) for each code-length symbol to send; repeat is the
// value of the extra bits of the repeat codes.
template <typename Visit>
void WalkLengthRuns(const TreeNode* tree, int max_code, Visit visit) {
  int previous = -1;
  int next = tree[0].len;
  int count = 0;
  int max_count = 7;
  int min_count = 4;
  if (next == 0) {
    max_count = 138;
    min_count = 3;
  }
  for (int n = 0; n <= max_code; ++n) {
    int current = next;
    next = n < max_code ? tree[n + 1].len : -1;
    if (++count < max_count && current == next) continue;
    if (count < min_count) {
      while (count-- > 0) visit(current, 0);
    } else if (current != 0) {
      if (current != previous) {
        visit(current, 0);
        --count;
      }
      visit(kRepeatPrevious, count - 3);
    } else if (count <= 10) {
      visit(kRepeatZero3, count - 3);
    } else {
      visit(kRepeatZero11, count - 11);
    }
    count = 0;
    previous = current;
    if (next == 0) {
      max_count = 138;
      min_count = 3;
    } else if (current == next) {
      max_count = 6;
      min_count = 3;
    } else {
      max_count = 7;
      min_count = 4;
    }
  }
}

// Builds the code-length tree for the two trees as they will be sent and
// returns the index, in sending order, of the last code-length code sent.
int BuildCodeLengthTree(BlockTallies* block, int literal_max, int distance_max, BlockCost* cost) {
  TreeNode* lengths = block->code_length_tree;
  auto count = [lengths](int symbol, int) { ++lengths[symbol].freq; };
  WalkLengthRuns(block->literal_tree, literal_max, count);
  WalkLengthRuns(block->distance_tree, distance_max, count);
  const TreeShape shape{kCodeLengthCodes, kMaxCodeLengthBits, kExtraCodeLengthBits, 0, nullptr};
  BuildTree(lengths, shape, cost);
  int last = kCodeLengthCodes - 1;
  while (last >= 3 && lengths[kCodeLengthOrder[last]].len == 0) --last;
  cost->dynamic_bits += 3 * (static_cast<uint32_t>(last) + 1) + 5 + 5 + 4;
  return last;
}

void SendTreeLengths(Engine* engine, const TreeNode* tree, int max_code) {
  const TreeNode* lengths = engine->block.code_length_tree;
  WalkLengthRuns(tree, max_code, [engine, lengths](int symbol, int repeat) {
    SendBits(engine, lengths[symbol].code, lengths[symbol].len);
    if (symbol == kRepeatPrevious)
      SendBits(engine, static_cast<unsigned>(repeat), 2);
    else if (symbol == kRepeatZero3)
      SendBits(engine, static_cast<unsigned>(repeat), 3);
    else if (symbol == kRepeatZero11)
      SendBits(engine, static_cast<unsigned>(repeat), 7);
  });
}

void SendDynamicHeader(Engine* engine, int literal_max, int distance_max, int last_length_code) {
  const BlockTallies& b = engine->block;
  SendBits(engine, static_cast<unsigned>(literal_max + 1 - 257), 5);
  SendBits(engine, static_cast<unsigned>(distance_max + 1 - 1), 5);
  SendBits(engine, static_cast<unsigned>(last_length_code + 1 - 4), 4);
  for (int rank = 0; rank <= last_length_code; ++rank) {
    SendBits(engine, b.code_length_tree[kCodeLengthOrder[rank]].len, 3);
  }
  SendTreeLengths(engine, b.literal_tree, literal_max);
  SendTreeLengths(engine, b.distance_tree, distance_max);
}

void SendSymbols(Engine* engine, const TreeNode* literal_tree, const TreeNode* distance_tree) {
  const FixedTables& t = GetFixedTables();
  const unsigned symbols = engine->block.symbols;
  unsigned flags = 0;
  unsigned flag_index = 0;
  unsigned match_index = 0;
  for (unsigned i = 0; i < symbols; ++i) {
    if ((i & 7) == 0) flags = engine->flags[flag_index++];
    unsigned value = engine->input[i];
    if ((flags & 1) == 0) {
      SendBits(engine, literal_tree[value].code, literal_tree[value].len);
    } else {
      int code = t.length_code[value];
      const TreeNode& length_symbol = literal_tree[code + kLiterals + 1];
      SendBits(engine, length_symbol.code, length_symbol.len);
      if (kExtraLengthBits[code] != 0)
        SendBits(engine, value - static_cast<unsigned>(t.base_length[code]), kExtraLengthBits[code]);
      unsigned distance = engine->distances[match_index++] - 1u;
      code = DistanceCode(t, distance);
      SendBits(engine, distance_tree[code].code, distance_tree[code].len);
      if (kExtraDistanceBits[code] != 0)
        SendBits(engine, distance - static_cast<unsigned>(t.base_distance[code]), kExtraDistanceBits[code]);
    }
    flags >>= 1;
  }
  SendBits(engine, literal_tree[kEndOfBlock].code, literal_tree[kEndOfBlock].len);
}

void SendStored(Engine* engine, const unsigned char* bytes, uint32_t length) {
  AlignToByte(engine);
  PutShort(engine, length);
  PutShort(engine, ~length & 0xffff);
  while (length != 0) {
    uint32_t room = kOutputBufferSize - engine->output_count;
    uint32_t piece = length < room ? length : room;
    std::memcpy(engine->output + engine->output_count, bytes, piece);
    engine->output_count += piece;
    bytes += piece;
    length -= piece;
    FlushOutputIfFull(engine);
  }
}

}  // namespace

void StartBlock(Engine* engine) {
  BlockTallies& b = engine->block;
  for (auto& node : b.literal_tree) node.freq = 0;
  for (auto& node : b.distance_tree) node.freq = 0;
  for (auto& node : b.code_length_tree) node.freq = 0;
  b.literal_tree[kEndOfBlock].freq = 1;
  b.symbols = 0;
  b.matches = 0;
  b.flag_bytes = 0;
  b.flag_acc = 0;
  b.flag_bit = 1;
}

bool BlockWorthClosing(const Engine* engine, long bytes_in_block) {
  const BlockTallies& b = engine->block;
  uint32_t out_length = b.symbols * 8u;
  for (int code = 0; code < kDistanceCodes; ++code) {
    out_length += b.distance_tree[code].freq * (5u + kExtraDistanceBits[code]);
  }
  out_length >>= 3;
  return b.matches < b.symbols / 2 && static_cast<long>(out_length) < bytes_in_block / 2;
}

void CloseBlock(Engine* engine, const unsigned char* stored_bytes, uint32_t stored_length, bool last) {
  const FixedTables& t = GetFixedTables();
  BlockTallies& b = engine->block;
  engine->flags[b.flag_bytes] = static_cast<uint8_t>(b.flag_acc);

  BlockCost cost{0, 0};
  const TreeShape literal_shape{kLiteralLengthCodes, kMaxCodeBits, kExtraLengthBits, kLiterals + 1, t.literal_tree};
  const TreeShape distance_shape{kDistanceCodes, kMaxCodeBits, kExtraDistanceBits, 0, t.distance_tree};
  int literal_max = BuildTree(b.literal_tree, literal_shape, &cost);
  int distance_max = BuildTree(b.distance_tree, distance_shape, &cost);
  int last_length_code = BuildCodeLengthTree(&b, literal_max, distance_max, &cost);

  uint32_t dynamic_bytes = (cost.dynamic_bits + 3 + 7) >> 3;
  uint32_t fixed_bytes = (cost.fixed_bits + 3 + 7) >> 3;
  uint32_t best = fixed_bytes <= dynamic_bytes ? fixed_bytes : dynamic_bytes;
  unsigned last_bit = last ? 1 : 0;

  if (stored_bytes != nullptr && stored_length <= 0xffff && stored_length + 4 <= best) {
    SendBits(engine, (kStoredBlock << 1) + last_bit, 3);
    SendStored(engine, stored_bytes, stored_length);
  } else if (fixed_bytes == best) {
    SendBits(engine, (kFixedBlock << 1) + last_bit, 3);
    SendSymbols(engine, t.literal_tree, t.distance_tree);
  } else {
    SendBits(engine, (kDynamicBlock << 1) + last_bit, 3);
    SendDynamicHeader(engine, literal_max, distance_max, last_length_code);
    SendSymbols(engine, b.literal_tree, b.distance_tree);
  }
  StartBlock(engine);
  if (last) AlignToByte(engine);
}

}  // namespace zipengine

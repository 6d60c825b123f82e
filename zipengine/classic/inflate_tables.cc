#include "zipengine/classic/inflate_tables.h"

#include "zipengine/common/deflate_format.h"

namespace zipengine {
namespace {

constexpr unsigned kMaxBits = 15;

inline DecodeEntry MakeEntry(unsigned bits, unsigned kind, unsigned value) {
  return (value << 16) | (kind << 8) | bits;
}

// The entry of a symbol, without its bit count.
DecodeEntry SymbolEntry(CodeKind kind, unsigned symbol) {
  switch (kind) {
    case CodeKind::kCodeLengths:
      return MakeEntry(0, kEntryLiteral, symbol);
    case CodeKind::kLiteralLengths:
      if (symbol < 256) return MakeEntry(0, kEntryLiteral, symbol);
      if (symbol == 256) return MakeEntry(0, kEntryEnd, 0);
      if (symbol < 286) return MakeEntry(0, kEntryBase + kExtraLengthBits[symbol - 257], kLengthBase[symbol - 257]);
      return MakeEntry(0, kEntryInvalid, 0);  // 286 and 287 take part in the fixed code only
    case CodeKind::kDistances:
      if (symbol < 30) return MakeEntry(0, kEntryBase + kExtraDistanceBits[symbol], kDistanceBase[symbol]);
      return MakeEntry(0, kEntryInvalid, 0);
  }
  return MakeEntry(0, kEntryInvalid, 0);
}

}  // namespace

bool BuildDecodeTable(CodeKind kind, const uint8_t* lengths, unsigned count, unsigned root_bits, DecodeEntry* table) {
  unsigned length_count[kMaxBits + 1] = {};
  for (unsigned n = 0; n < count; ++n) ++length_count[lengths[n]];
  length_count[0] = 0;
  int left = 1;
  unsigned max_length = 0;
  for (unsigned bits = 1; bits <= kMaxBits; ++bits) {
    left <<= 1;
    left -= static_cast<int>(length_count[bits]);
    if (left < 0) return false;
    if (length_count[bits] != 0) max_length = bits;
  }

  // Unused codes need all their bits before they count as invalid, so that
  // a short read near the end never mistakes a valid code for one.
  const unsigned root_size = 1u << root_bits;
  for (unsigned i = 0; i < root_size; ++i) table[i] = MakeEntry(root_bits, kEntryInvalid, 0);
  const unsigned sub_bits = max_length > root_bits ? max_length - root_bits : 0;
  const unsigned sub_size = 1u << sub_bits;
  unsigned next_free = root_size;

  unsigned next_code[kMaxBits + 2] = {};
  unsigned code = 0;
  for (unsigned bits = 1; bits <= kMaxBits; ++bits) {
    code = (code + length_count[bits - 1]) << 1;
    next_code[bits] = code;
  }
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    unsigned length = lengths[symbol];
    if (length == 0) continue;
    unsigned reversed = ReverseBits(next_code[length]++, static_cast<int>(length));
    DecodeEntry entry = SymbolEntry(kind, symbol);
    if (length <= root_bits) {
      for (unsigned i = reversed; i < root_size; i += 1u << length) table[i] = entry | length;
      continue;
    }
    unsigned root_index = reversed & (root_size - 1);
    if (EntryKind(table[root_index]) < kEntryLink || EntryKind(table[root_index]) >= kEntryInvalid) {
      table[root_index] = MakeEntry(root_bits, kEntryLink + sub_bits, next_free);
      for (unsigned i = 0; i < sub_size; ++i) table[next_free + i] = MakeEntry(sub_bits, kEntryInvalid, 0);
      next_free += sub_size;
    }
    DecodeEntry* sub = table + EntryValue(table[root_index]);
    unsigned rest = length - root_bits;
    for (unsigned i = reversed >> root_bits; i < sub_size; i += 1u << rest) sub[i] = entry | rest;
  }
  return true;
}

}  // namespace zipengine

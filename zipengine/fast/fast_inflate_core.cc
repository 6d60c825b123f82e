#include "zipengine/fast/fast_inflate_core.h"

#include <algorithm>

#include "zipengine/common/code_length_reader.h"
#include "zipengine/common/deflate_format.h"

namespace zipengine {
namespace fast_inflate {
namespace {

// The bit source of ReadCodeLengths: one refill before each symbol leaves
// enough bits for it (7 at most) and its extra bits (7 at most).
struct CodeLengthSymbols {
  BitInput* in;
  const uint32_t* table;

  int NextCodeLengthSymbol() {
    if (!in->Refill()) return -1;
    uint32_t entry = table[in->Peek(kCodeLengthBits)];
    if (!(entry & kLiteral)) return -1;
    in->Drop(BitsOf(entry));
    return static_cast<int>(ValueOf(entry));
  }
  unsigned TakeBits(unsigned n) {
    unsigned value = in->Peek(n);
    in->Drop(n);
    return value;
  }
};

}  // namespace

bool BuildTable(const uint8_t* lengths, int count, const uint32_t* symbolEntries, int tableBits, bool allowLoneCode,
                uint32_t* table) {
  int per_length[kMaxCodeLength + 1] = {};
  for (int s = 0; s < count; ++s) ++per_length[lengths[s]];
  int longest = kMaxCodeLength;
  while (longest > 0 && per_length[longest] == 0) --longest;
  const uint32_t primary = 1u << tableBits;
  std::fill(table, table + primary, kInvalidEntry);
  if (longest == 0) return true;
  int left = 1;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    left = (left << 1) - per_length[length];
    if (left < 0) return false;
  }
  if (left > 0 && !(allowLoneCode && longest == 1)) return false;

  int offsets[kMaxCodeLength + 2] = {};
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    offsets[length + 1] = offsets[length] + per_length[length];
  }
  uint16_t sorted[288];
  for (int s = 0; s < count; ++s) {
    if (lengths[s] != 0) sorted[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  }
  const int total = offsets[kMaxCodeLength];  // advanced past the last length's codes
  int remaining[kMaxCodeLength + 1];
  std::memcpy(remaining, per_length, sizeof(remaining));

  uint32_t code = 0;
  int code_length = lengths[sorted[0]];
  uint32_t next_free = primary;
  uint32_t current_prefix = ~0u;
  uint32_t sub_start = 0;
  int sub_bits = 0;
  for (int i = 0; i < total; ++i) {
    int s = sorted[i];
    int length = lengths[s];
    if (length > code_length) {
      code <<= length - code_length;
      code_length = length;
    }
    uint32_t entry = symbolEntries[s];
    if (length <= tableBits) {
      for (uint32_t k = ReverseBits(code, length); k < primary; k += 1u << length) {
        table[k] = entry | static_cast<uint32_t>(length);
      }
    } else {
      // Codes that share their first tableBits bits follow one another in
      // canonical order; the sub-table is made as deep as the longest of
      // them needs.
      uint32_t prefix = code >> (length - tableBits);
      if (prefix != current_prefix) {
        current_prefix = prefix;
        sub_bits = length - tableBits;
        int space = 1 << sub_bits;
        while (sub_bits + tableBits < longest) {
          space -= remaining[sub_bits + tableBits];
          if (space <= 0) break;
          ++sub_bits;
          space <<= 1;
        }
        sub_start = next_free;
        next_free += 1u << sub_bits;
        table[ReverseBits(prefix, tableBits)] =
            Entry(kSubTable, static_cast<uint32_t>(sub_bits), sub_start) | static_cast<uint32_t>(tableBits);
      }
      int rest = length - tableBits;
      for (uint32_t k = ReverseBits(code & ((1u << rest) - 1), rest); k < (1u << sub_bits); k += 1u << rest) {
        table[sub_start + k] = entry | static_cast<uint32_t>(rest);
      }
    }
    --remaining[length];
    ++code;
  }
  return true;
}

const SharedTables& Shared() {
  static const SharedTables shared;
  return shared;
}

SharedTables::SharedTables() {
  for (uint32_t s = 0; s < 256; ++s) lit_symbols[s] = Entry(kLiteral, 0, s);
  lit_symbols[256] = Entry(kBlockEnd, 0, 0);
  for (int s = 0; s < 29; ++s) lit_symbols[257 + s] = Entry(kBase, kExtraLengthBits[s], kLengthBase[s]);
  lit_symbols[286] = lit_symbols[287] = kInvalidEntry;
  for (int s = 0; s < 30; ++s) dist_symbols[s] = Entry(kBase, kExtraDistanceBits[s], kDistanceBase[s]);
  dist_symbols[30] = dist_symbols[31] = kInvalidEntry;
  for (uint32_t s = 0; s < 19; ++s) code_length_symbols[s] = Entry(kLiteral, 0, s);

  uint8_t lengths[288];
  std::fill(lengths, lengths + 144, 8);
  std::fill(lengths + 144, lengths + 256, 9);
  std::fill(lengths + 256, lengths + 280, 7);
  std::fill(lengths + 280, lengths + 288, 8);
  BuildTable(lengths, 288, lit_symbols, kLitBits, false, fixed_lit);
  std::fill(lengths, lengths + 32, 5);
  BuildTable(lengths, 32, dist_symbols, kDistBits, false, fixed_dist);
}

bool ReadDynamicTables(BitInput* input, Tables* tables) {
  BitInput& in = *input;
  Tables& t = *tables;
  const SharedTables& shared = Shared();
  if (!in.Refill()) return false;
  uint32_t lit_count = in.Peek(5) + 257;
  uint32_t dist_count = (in.Peek(10) >> 5) + 1;
  uint32_t code_count = (in.Peek(14) >> 10) + 4;
  in.Drop(14);
  if (lit_count > 286 || dist_count > 30) return false;
  uint8_t lengths[288 + 32] = {};
  for (uint32_t i = 0; i < code_count; ++i) {
    if (!in.Refill()) return false;
    lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.Peek(3));
    in.Drop(3);
  }
  if (!BuildTable(lengths, 19, shared.code_length_symbols, kCodeLengthBits, false, t.code_lengths)) return false;
  std::memset(lengths, 0, sizeof(lengths));
  CodeLengthSymbols symbols{&in, t.code_lengths};
  if (!ReadCodeLengths(symbols, lit_count + dist_count, lengths)) return false;
  if (lengths[256] == 0) return false;
  return BuildTable(lengths, static_cast<int>(lit_count), shared.lit_symbols, kLitBits, true, t.lit) &&
         BuildTable(lengths + lit_count, static_cast<int>(dist_count), shared.dist_symbols, kDistBits, true, t.dist);
}

}  // namespace fast_inflate
}  // namespace zipengine

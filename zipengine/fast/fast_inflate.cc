#include "zipengine/fast/fast_inflate.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "zipengine/common/code_length_reader.h"
#include "zipengine/common/crc32.h"
#include "zipengine/common/deflate_format.h"

namespace zipengine {
namespace {

// Decoding table entries, one 32-bit word each: the number of bits the
// entry's code takes (bits 0-7), the number of extra bits that follow it or
// the size of the sub-table it points to (8-11), what it is (one flag of
// 12-15, none for a length or distance base) and its value (16-31: a
// literal byte, a base, a code-length symbol, or where the sub-table
// starts). Flags rather than a number, so that the hot loop tests one bit.
enum Kind : uint32_t {
  kBase = 0,
  kLiteral = 1u << 15,
  kSubTable = 1u << 14,
  kBlockEnd = 1u << 13,
  kInvalid = 1u << 12,
};
constexpr uint32_t kKindBits = 0xf000;

constexpr uint32_t Entry(Kind kind, uint32_t extra, uint32_t value) {
  return value << 16 | static_cast<uint32_t>(kind) | extra << 8;
}
inline Kind KindOf(uint32_t entry) { return static_cast<Kind>(entry & kKindBits); }
inline uint32_t ExtraOf(uint32_t entry) { return entry >> 8 & 15; }
inline uint32_t ValueOf(uint32_t entry) { return entry >> 16; }
inline uint32_t BitsOf(uint32_t entry) { return entry & 0xff; }
constexpr uint32_t kInvalidEntry = Entry(kInvalid, 0, 0);

// Primary table sizes: most codes are found with one look-up; longer ones
// take a second in a sub-table. The bounds hold a sub-table of the largest
// size for every symbol, far more than any code set needs.
constexpr int kLitBits = 10;
constexpr int kDistBits = 8;
constexpr int kCodeLengthBits = 7;
constexpr size_t kLitTableSize = (size_t{1} << kLitBits) + 288 * (size_t{1} << (15 - kLitBits));
constexpr size_t kDistTableSize = (size_t{1} << kDistBits) + 32 * (size_t{1} << (15 - kDistBits));

constexpr int kMaxCodeLength = 15;
constexpr int kWindowSize = 32768;
// Output gathers after the window in pieces of this size before it is
// handed on and the last window's worth moves to the front.
constexpr size_t kPieceSize = size_t{1} << 20;
// One round of the loop may start just before the piece ends and write a
// literal and a match (258 bytes), copied eight bytes at a time (up to 15
// more, as the first sixteen are copied whatever the length).
constexpr size_t kOutputSpare = 1 + 258 + 15 + 16;

// Fills table (primary part of 2^tableBits entries, sub-tables after it)
// for the canonical code of lengths[0, count), each symbol decoding to
// symbolEntries[symbol]. False for a code set no decoder may use: one that
// is over-subscribed, or incomplete unless it is a lone code of length one
// (which RFC 1951 allows for distances, and zlib for literals too). A set
// of no codes at all gives a table of invalid entries, which fails only
// when the data uses it.
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

inline uint64_t LoadLittle64(const unsigned char* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 | uint64_t{p[4]} << 32 |
         uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
}

// The input, read least significant bit first through a 64-bit register.
// Past the end it gives zero bytes, counted, so that a decode that ran off
// the end of the data is found (at most 8 such bytes can be unused).
struct BitInput {
  const unsigned char* next;
  const unsigned char* end;
  uint64_t bits = 0;
  unsigned count = 0;
  unsigned overrun = 0;

  // At least 56 bits in the register afterwards; false once the decode has
  // certainly used bytes that are not there.
  bool Refill() {
    if (end - next >= 8) {
      bits |= LoadLittle64(next) << count;
      next += (63 - count) >> 3;
      count |= 56;
      return true;
    }
    while (count <= 56) {
      if (next < end) {
        bits |= uint64_t{*next++} << count;
      } else {
        ++overrun;
      }
      count += 8;
    }
    return overrun <= 8;
  }
  uint32_t Peek(unsigned n) const { return static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1)); }
  void Drop(unsigned n) {
    bits >>= n;
    count -= n;
  }
  // Goes to the next byte boundary and gives back the whole bytes still in
  // the register, so that next is the first byte not yet used.
  bool AlignToByte() {
    Drop(count & 7);
    unsigned held = count >> 3;
    if (overrun > held) return false;
    next -= held - overrun;
    overrun = 0;
    bits = 0;
    count = 0;
    return true;
  }
};

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

struct GzipMemberDecoder::Tables {
  uint32_t lit[kLitTableSize];
  uint32_t dist[kDistTableSize];
  uint32_t code_lengths[1u << kCodeLengthBits];
  uint32_t fixed_lit[kLitTableSize];
  uint32_t fixed_dist[kDistTableSize];
  uint32_t lit_symbols[288];
  uint32_t dist_symbols[32];
  uint32_t code_length_symbols[19];
};

GzipMemberDecoder::GzipMemberDecoder()
    : tables_(new Tables), window_(new unsigned char[kWindowSize + kPieceSize + kOutputSpare]) {
  Tables& t = *tables_;
  for (uint32_t s = 0; s < 256; ++s) t.lit_symbols[s] = Entry(kLiteral, 0, s);
  t.lit_symbols[256] = Entry(kBlockEnd, 0, 0);
  for (int s = 0; s < 29; ++s) t.lit_symbols[257 + s] = Entry(kBase, kExtraLengthBits[s], kLengthBase[s]);
  t.lit_symbols[286] = t.lit_symbols[287] = kInvalidEntry;
  for (int s = 0; s < 30; ++s) t.dist_symbols[s] = Entry(kBase, kExtraDistanceBits[s], kDistanceBase[s]);
  t.dist_symbols[30] = t.dist_symbols[31] = kInvalidEntry;
  for (uint32_t s = 0; s < 19; ++s) t.code_length_symbols[s] = Entry(kLiteral, 0, s);

  uint8_t lengths[288];
  std::fill(lengths, lengths + 144, 8);
  std::fill(lengths + 144, lengths + 256, 9);
  std::fill(lengths + 256, lengths + 280, 7);
  std::fill(lengths + 280, lengths + 288, 8);
  BuildTable(lengths, 288, t.lit_symbols, kLitBits, false, t.fixed_lit);
  std::fill(lengths, lengths + 32, 5);
  BuildTable(lengths, 32, t.dist_symbols, kDistBits, false, t.fixed_dist);
}

GzipMemberDecoder::~GzipMemberDecoder() = default;

bool GzipMemberDecoder::Decode(const unsigned char* data, size_t size, Sink* sink, uint32_t* trailerCrc,
                               uint32_t* trailerLength) {
  // The header: magic, method 8, no reserved flag bits, then the optional
  // fields in their order.
  if (size < 18 || data[0] != 0x1f || data[1] != 0x8b || data[2] != 8 || (data[3] & 0xe0) != 0) {
    return false;
  }
  const unsigned flags = data[3];
  size_t pos = 10;
  if (flags & 4) {
    if (size - pos < 2) return false;
    size_t extra = data[pos] | size_t{data[pos + 1]} << 8;
    pos += 2;
    if (size - pos < extra) return false;
    pos += extra;
  }
  for (unsigned field : {8u, 16u}) {
    if (!(flags & field)) continue;
    while (pos < size && data[pos] != 0) ++pos;
    if (pos >= size) return false;
    ++pos;
  }
  if (flags & 2) {
    if (size - pos < 2) return false;
    uint32_t header_crc = ~UpdateCrc32(0xffffffffu, data, pos) & 0xffff;
    if (header_crc != (data[pos] | uint32_t{data[pos + 1]} << 8)) return false;
    pos += 2;
  }
  if (size - pos < 8) return false;

  Tables& t = *tables_;
  BitInput in;
  in.next = data + pos;
  in.end = data + size - 8;
  unsigned char* const start = window_.get();
  unsigned char* const limit = start + kWindowSize + kPieceSize;
  unsigned char* out = start;
  unsigned char* handed = start;  // output before this has gone to sink
  auto slide = [&]() {
    sink->Take(handed, static_cast<size_t>(out - handed));
    std::memmove(start, out - kWindowSize, kWindowSize);
    out = start + kWindowSize;
    handed = out;
  };

  bool final_block = false;
  while (!final_block) {
    if (!in.Refill()) return false;
    final_block = (in.Peek(1) != 0);
    uint32_t type = in.Peek(3) >> 1;
    in.Drop(3);
    if (type == 0) {
      // Stored: LEN and its complement on the next byte boundary, then
      // the bytes as they are.
      if (!in.AlignToByte() || in.end - in.next < 4) return false;
      size_t length = in.next[0] | size_t{in.next[1]} << 8;
      size_t complement = in.next[2] | size_t{in.next[3]} << 8;
      if (length != (~complement & 0xffff)) return false;
      in.next += 4;
      if (static_cast<size_t>(in.end - in.next) < length) return false;
      while (length > 0) {
        if (out >= limit) slide();
        size_t take = std::min(length, static_cast<size_t>(limit - out));
        std::memcpy(out, in.next, take);
        out += take;
        in.next += take;
        length -= take;
      }
      continue;
    }
    if (type == 3) return false;
    const uint32_t* lit = t.fixed_lit;
    const uint32_t* dist = t.fixed_dist;
    if (type == 2) {
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
      if (!BuildTable(lengths, 19, t.code_length_symbols, kCodeLengthBits, false, t.code_lengths)) {
        return false;
      }
      std::memset(lengths, 0, sizeof(lengths));
      CodeLengthSymbols symbols{&in, t.code_lengths};
      if (!ReadCodeLengths(symbols, lit_count + dist_count, lengths)) return false;
      if (lengths[256] == 0) return false;
      if (!BuildTable(lengths, static_cast<int>(lit_count), t.lit_symbols, kLitBits, true, t.lit) ||
          !BuildTable(lengths + lit_count, static_cast<int>(dist_count), t.dist_symbols, kDistBits, true, t.dist)) {
        return false;
      }
      lit = t.lit;
      dist = t.dist;
    }

    // One refill per round: it leaves at least 56 bits, and a length with
    // its distance takes at most 15 + 5 + 15 + 13 = 48, two literals from
    // the primary table at most 20.
    for (;;) {
      if (out >= limit) slide();
      if (!in.Refill()) return false;
      uint32_t entry = lit[in.Peek(kLitBits)];
      if (entry & kLiteral) {
        in.Drop(BitsOf(entry));
        *out++ = static_cast<unsigned char>(ValueOf(entry));
        entry = lit[in.Peek(kLitBits)];
        if (entry & kLiteral) {
          in.Drop(BitsOf(entry));
          *out++ = static_cast<unsigned char>(ValueOf(entry));
          continue;
        }
        if (entry & kSubTable) continue;  // after the next refill
      }
      if (entry & kSubTable) {
        in.Drop(kLitBits);
        entry = lit[ValueOf(entry) + in.Peek(ExtraOf(entry))];
      }
      in.Drop(BitsOf(entry));
      if (entry & (kLiteral | kBlockEnd | kInvalid)) {
        if (entry & kLiteral) {
          *out++ = static_cast<unsigned char>(ValueOf(entry));
          continue;
        }
        if (entry & kBlockEnd) break;
        return false;
      }
      uint32_t length = ValueOf(entry) + in.Peek(ExtraOf(entry));
      in.Drop(ExtraOf(entry));
      entry = dist[in.Peek(kDistBits)];
      if (entry & kSubTable) {
        in.Drop(kDistBits);
        entry = dist[ValueOf(entry) + in.Peek(ExtraOf(entry))];
      }
      if (KindOf(entry) != kBase) return false;
      in.Drop(BitsOf(entry));
      uint32_t distance = ValueOf(entry) + in.Peek(ExtraOf(entry));
      in.Drop(ExtraOf(entry));
      if (distance > static_cast<size_t>(out - start)) return false;
      const unsigned char* from = out - distance;
      unsigned char* stop = out + length;
      if (distance >= 8) {
        // Each eight bytes copied lie wholly before the ones written; most
        // matches are done with the first sixteen.
        std::memcpy(out, from, 8);
        std::memcpy(out + 8, from + 8, 8);
        if (length > 16) {
          out += 16;
          from += 16;
          do {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
          } while (out < stop);
        }
      } else if (distance == 1) {
        std::memset(out, out[-1], length);
      } else {
        for (; out < stop; ++out, ++from) *out = *from;
      }
      out = stop;
    }
  }
  // The trailer must follow the last block at once and end the data.
  if (!in.AlignToByte() || in.next != in.end) return false;
  if (out > handed) sink->Take(handed, static_cast<size_t>(out - handed));
  const unsigned char* trailer = data + size - 8;
  *trailerCrc = trailer[0] | uint32_t{trailer[1]} << 8 | uint32_t{trailer[2]} << 16 | uint32_t{trailer[3]} << 24;
  *trailerLength = trailer[4] | uint32_t{trailer[5]} << 8 | uint32_t{trailer[6]} << 16 | uint32_t{trailer[7]} << 24;
  return true;
}

}  // namespace zipengine

// What both of fast/'s inflates share: the two-level decoding tables, the
// 64-bit bit reader and the loop that decodes one Huffman block's codes. The
// whole-member decoder (fast_inflate.h) and the streaming one
// (fast_inflate_stream.h) differ only in where their input ends: the first
// reads zero bytes past the end of a member held whole and refuses it once
// it has used them, the second stops between two codes when fewer than eight
// bytes are left, to go on when more arrive.
#ifndef FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_CORE_H
#define FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_CORE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zipengine {
namespace fast_inflate {

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
constexpr size_t kWindowSize = 32768;
// Output gathers after the window in pieces of this size before it is
// handed on and the last window's worth moves to the front.
constexpr size_t kPieceSize = size_t{1} << 20;
// One round of the loop may start just before the piece ends and write a
// literal and a match (258 bytes), copied eight bytes at a time (up to 15
// more, as the first sixteen are copied whatever the length).
constexpr size_t kOutputSpare = 1 + 258 + 15 + 16;
constexpr size_t kOutputBufferSize = kWindowSize + kPieceSize + kOutputSpare;

// Fills table (primary part of 2^tableBits entries, sub-tables after it)
// for the canonical code of lengths[0, count), each symbol decoding to
// symbolEntries[symbol]. False for a code set no decoder may use: one that
// is over-subscribed, or incomplete unless it is a lone code of length one
// (which RFC 1951 allows for distances, and zlib for literals too). A set
// of no codes at all gives a table of invalid entries, which fails only
// when the data uses it.
bool BuildTable(const uint8_t* lengths, int count, const uint32_t* symbolEntries, int tableBits, bool allowLoneCode,
                uint32_t* table);

inline uint64_t LoadLittle64(const unsigned char* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 | uint64_t{p[4]} << 32 |
         uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
}

// The input, read least significant bit first through a 64-bit register.
// Whole: past the end it gives zero bytes, counted, so that a decode that
// ran off the end of the data is found (at most 8 such bytes can be
// unused). Streaming: a refill with fewer than eight bytes left fails and
// sets short_input, the register as it was, so the decode can go on there
// once more input is at hand.
struct BitInput {
  const unsigned char* next = nullptr;
  const unsigned char* end = nullptr;
  uint64_t bits = 0;
  unsigned count = 0;
  unsigned overrun = 0;
  bool streaming = false;
  bool short_input = false;

  // At least 56 bits in the register afterwards; false once the decode has
  // certainly used bytes that are not there, or (streaming) when they are
  // not there yet.
  bool Refill() {
    if (end - next >= 8) {
      bits |= LoadLittle64(next) << count;
      next += (63 - count) >> 3;
      count |= 56;
      return true;
    }
    if (streaming) {
      short_input = true;
      return false;
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

// What every decoder reads alike: each symbol's table entry and the fixed
// code's tables, made once for the process (Shared()), so that a decoder
// costs little to make (a download of many small files makes one for each).
struct SharedTables {
  SharedTables();
  uint32_t fixed_lit[kLitTableSize];
  uint32_t fixed_dist[kDistTableSize];
  uint32_t lit_symbols[288];
  uint32_t dist_symbols[32];
  uint32_t code_length_symbols[19];
};
const SharedTables& Shared();

// The tables of one decoder's current dynamic block.
struct Tables {
  uint32_t lit[kLitTableSize];
  uint32_t dist[kDistTableSize];
  uint32_t code_lengths[1u << kCodeLengthBits];
};

// Reads a dynamic block's header (after its three type bits) into t.lit and
// t.dist. False for data RFC 1951 forbids or input that ran out (see
// in->short_input).
bool ReadDynamicTables(BitInput* in, Tables* t);

// How DecodeCodes stopped.
enum class CodesEnd {
  kBlockEnd,  // after the block's end code
  kFull,      // out reached limit: hand on and slide, then call again
  kStopped,   // a refill failed: bad or (streaming) short input
  kBad,       // a code or distance RFC 1951 forbids
};

// Decodes a Huffman block's codes with the tables lit and dist into *out
// until one of the ends above; start is the oldest output a distance may
// reach. Every stop but kBad falls between two codes, so that the decode
// may go on from the register and *out as they are.
inline CodesEnd DecodeCodes(BitInput* input, const uint32_t* lit, const uint32_t* dist, const unsigned char* start,
                            unsigned char** output, const unsigned char* limit) {
  BitInput& in = *input;
  unsigned char* out = *output;
  CodesEnd end;
  // One refill per round: it leaves at least 56 bits, and a length with
  // its distance takes at most 15 + 5 + 15 + 13 = 48, two literals from
  // the primary table at most 20.
  for (;;) {
    if (out >= limit) {
      end = CodesEnd::kFull;
      break;
    }
    if (!in.Refill()) {
      end = CodesEnd::kStopped;
      break;
    }
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
      end = (entry & kBlockEnd) ? CodesEnd::kBlockEnd : CodesEnd::kBad;
      break;
    }
    uint32_t length = ValueOf(entry) + in.Peek(ExtraOf(entry));
    in.Drop(ExtraOf(entry));
    entry = dist[in.Peek(kDistBits)];
    if (entry & kSubTable) {
      in.Drop(kDistBits);
      entry = dist[ValueOf(entry) + in.Peek(ExtraOf(entry))];
    }
    if (KindOf(entry) != kBase) {
      end = CodesEnd::kBad;
      break;
    }
    in.Drop(BitsOf(entry));
    uint32_t distance = ValueOf(entry) + in.Peek(ExtraOf(entry));
    in.Drop(ExtraOf(entry));
    if (distance > static_cast<size_t>(out - start)) {
      end = CodesEnd::kBad;
      break;
    }
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
  *output = out;
  return end;
}

}  // namespace fast_inflate
}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_FAST_FAST_INFLATE_CORE_H

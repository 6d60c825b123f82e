// Decoding tables for the Huffman codes of RFC 1951. A code is looked up by
// its next `root_bits` input bits (taken least significant bit first); codes
// longer than that continue in a second-level table.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_INFLATE_TABLES_H
#define FILEDIST_ZIPENGINE_CLASSIC_INFLATE_TABLES_H

#include <cstdint>

namespace zipengine {

// An entry packs: bits 0-7 the input bits it consumes, bits 8-15 its kind,
// bits 16-31 its value.
using DecodeEntry = uint32_t;

enum : unsigned {
  kEntryLiteral = 0,   // value: the byte, or the code-length symbol
  kEntryBase = 16,     // 16 + extra bits; value: length or distance base
  kEntryEnd = 32,      // end of block
  kEntryLink = 64,     // 64 + second-level bits; value: that table's index
  kEntryInvalid = 96,  // no symbol has this code
};

inline unsigned EntryBits(DecodeEntry e) { return e & 0xff; }
inline unsigned EntryKind(DecodeEntry e) { return (e >> 8) & 0xff; }
inline unsigned EntryValue(DecodeEntry e) { return e >> 16; }

// What the symbols of a code stand for.
enum class CodeKind { kCodeLengths, kLiteralLengths, kDistances };

constexpr unsigned kLiteralRootBits = 10;
constexpr unsigned kDistanceRootBits = 8;
constexpr unsigned kCodeLengthRootBits = 7;
// Room for the root table and, at worst, one full second-level table for
// every symbol longer than the root.
constexpr unsigned kLiteralTableSize = (1u << kLiteralRootBits) + 288u * (1u << (15 - kLiteralRootBits));
constexpr unsigned kDistanceTableSize = (1u << kDistanceRootBits) + 32u * (1u << (15 - kDistanceRootBits));
constexpr unsigned kCodeLengthTableSize = 1u << kCodeLengthRootBits;

// Fills table (of the size above for kind) from the code lengths of count
// symbols. Returns false when the lengths over-subscribe the code; an
// incomplete code is accepted and its unused codes decode as invalid.
bool BuildDecodeTable(CodeKind kind, const uint8_t* lengths, unsigned count, unsigned root_bits, DecodeEntry* table);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_INFLATE_TABLES_H

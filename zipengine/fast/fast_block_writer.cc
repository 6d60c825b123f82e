#include "zipengine/fast/fast_block_writer.h"

#include <algorithm>
#include <cstring>

#include "zipengine/common/deflate_format.h"
#include "zipengine/fast/fast_huffman.h"

namespace zipengine {
namespace {

constexpr int kLitLenCodes = 286;
constexpr int kDistCodes = 30;
constexpr size_t kStoredPieceMax = 65535;

FastCodeTables BuildTables() {
  FastCodeTables t{};
  unsigned length = 3;
  for (int code = 0; code < kLengthCodes - 1; ++code) {
    for (unsigned n = 0; n < (1u << kExtraLengthBits[code]) && length <= 258; ++n, ++length) {
      t.length_symbol[length] = static_cast<uint16_t>(257 + code);
      t.length_extra_bits[length] = kExtraLengthBits[code];
      t.length_extra[length] = static_cast<uint16_t>(n);
    }
  }
  // 258 has a code of its own with no extra bits, though code 284 with all
  // its extra bits set would also reach it.
  t.length_symbol[258] = 285;
  t.length_extra_bits[258] = 0;
  t.length_extra[258] = 0;

  unsigned base = 0;
  for (int code = 0; code < kDistCodes; ++code) {
    unsigned span = 1u << kExtraDistanceBits[code];
    t.distance_base[code] = static_cast<uint16_t>(base);
    t.distance_extra_bits[code] = kExtraDistanceBits[code];
    for (unsigned d = base; d < base + span; ++d) {
      if (d < 256) {
        t.distance_code_small[d] = static_cast<uint8_t>(code);
      } else if ((d & 127) == 0) {
        t.distance_code_large[d >> 7] = static_cast<uint8_t>(code);
      }
    }
    base += span;
  }

  for (int s = 0; s < 288; ++s) t.fixed_litlen_length[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  BuildCanonicalCodes(t.fixed_litlen_length, 288, t.fixed_litlen_code);
  for (int s = 0; s < kDistCodes; ++s) t.fixed_distance_length[s] = 5;
  BuildCanonicalCodes(t.fixed_distance_length, kDistCodes, t.fixed_distance_code);
  return t;
}

// The code lengths of both trees as RFC 1951 sends them: runs of zeros as
// codes 17 and 18, repeats of a non-zero length as code 16 after the length
// itself. Repeats may run across from one tree's lengths into the other's.
struct LengthRuns {
  uint8_t symbol[kLitLenCodes + kDistCodes];
  uint8_t extra[kLitLenCodes + kDistCodes];
  int count = 0;

  void Add(unsigned sym, unsigned value) {
    symbol[count] = static_cast<uint8_t>(sym);
    extra[count] = static_cast<uint8_t>(value);
    ++count;
  }

  void Encode(const uint8_t* lengths, int total) {
    int i = 0;
    while (i < total) {
      uint8_t value = lengths[i];
      int run = 1;
      while (i + run < total && lengths[i + run] == value) ++run;
      i += run;
      if (value == 0) {
        while (run >= 11) {
          int take = std::min(run, 138);
          Add(18, take - 11);
          run -= take;
        }
        if (run >= 3) {
          Add(17, run - 3);
          run = 0;
        }
      } else {
        Add(value, 0);
        --run;
        while (run >= 3) {
          int take = std::min(run, 6);
          Add(16, take - 3);
          run -= take;
        }
      }
      for (; run > 0; --run) Add(value, 0);
    }
  }
};

const unsigned kRunExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};

void SendSymbols(const FastCodeTables& t, const FastSymbol* symbols, size_t count, const uint16_t* litlen_code,
                 const uint8_t* litlen_length, const uint16_t* dist_code, const uint8_t* dist_length,
                 FastBitOutput* destination) {
  // A copy of the register in a local: the byte stores of a flush could
  // otherwise be taken to change it, and it would be reloaded after each.
  FastBitOutput out = *destination;
  // Literals (at most 15 bits each) gather until 32 bits wait; a match
  // (at most 48 bits) starts with at most 15 waiting. The register then
  // never holds more than 63.
  for (size_t i = 0; i < count; ++i) {
    FastSymbol sym = symbols[i];
    if (sym.dist == 0) {
      out.Put(litlen_code[sym.litlen], litlen_length[sym.litlen]);
      if (out.count >= 32) out.Flush();
    } else {
      if (out.count >= 16) out.Flush();
      unsigned length = sym.litlen;
      unsigned ls = t.length_symbol[length];
      out.Put(litlen_code[ls], litlen_length[ls]);
      out.Put(t.length_extra[length], t.length_extra_bits[length]);
      unsigned dc = t.DistanceCode(sym.dist);
      out.Put(dist_code[dc], dist_length[dc]);
      out.Put(sym.dist - 1u - t.distance_base[dc], t.distance_extra_bits[dc]);
      out.Flush();
    }
  }
  out.Flush();
  out.Put(litlen_code[256], litlen_length[256]);
  out.Flush();
  *destination = out;
}

void SendStored(const unsigned char* raw, size_t raw_size, bool final, FastBitOutput* out) {
  size_t at = 0;
  do {
    size_t piece = std::min(kStoredPieceMax, raw_size - at);
    bool last = final && at + piece == raw_size;
    out->Put(last ? 1 : 0, 3);
    out->AlignToByte();
    out->Put(piece, 16);
    out->Put(~piece & 0xffff, 16);
    out->Flush();
    if (piece != 0) std::memcpy(out->next, raw + at, piece);
    out->next += piece;
    at += piece;
  } while (at < raw_size);
}

}  // namespace

const FastCodeTables& GetFastCodeTables() {
  static const FastCodeTables tables = BuildTables();
  return tables;
}

void WriteFastBlock(const FastSymbol* symbols, size_t count, FastTally* tally, const unsigned char* raw,
                    size_t raw_size, bool final, FastBitOutput* out) {
  const FastCodeTables& t = GetFastCodeTables();
  tally->litlen[256] = 1;

  uint8_t litlen_length[kLitLenCodes];
  uint8_t dist_length[kDistCodes];
  BuildCodeLengths(tally->litlen, kLitLenCodes, kMaxCodeBits, litlen_length);
  BuildCodeLengths(tally->dist, kDistCodes, kMaxCodeBits, dist_length);
  int hlit = kLitLenCodes;
  while (hlit > 257 && litlen_length[hlit - 1] == 0) --hlit;
  int hdist = kDistCodes;
  while (hdist > 1 && dist_length[hdist - 1] == 0) --hdist;

  uint8_t both[kLitLenCodes + kDistCodes];
  std::memcpy(both, litlen_length, hlit);
  std::memcpy(both + hlit, dist_length, hdist);
  LengthRuns runs;
  runs.Encode(both, hlit + hdist);
  uint32_t run_freq[kCodeLengthCodes] = {};
  for (int i = 0; i < runs.count; ++i) ++run_freq[runs.symbol[i]];
  uint8_t run_length[kCodeLengthCodes];
  BuildCodeLengths(run_freq, kCodeLengthCodes, kMaxCodeLengthBits, run_length);
  int hclen = kCodeLengthCodes;
  while (hclen > 4 && run_length[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

  // Sizes of the three kinds of block, in bits.
  uint64_t extra = 0;
  for (int code = 0; code < kLengthCodes; ++code) extra += uint64_t{tally->litlen[257 + code]} * kExtraLengthBits[code];
  for (int code = 0; code < kDistCodes; ++code) extra += uint64_t{tally->dist[code]} * kExtraDistanceBits[code];
  uint64_t dynamic_bits = 3 + 5 + 5 + 4 + 3 * static_cast<uint64_t>(hclen) + extra;
  uint64_t fixed_bits = 3 + extra;
  for (int s = 0; s < kCodeLengthCodes; ++s) dynamic_bits += uint64_t{run_freq[s]} * (run_length[s] + kRunExtraBits[s]);
  for (int s = 0; s < kLitLenCodes; ++s) {
    dynamic_bits += uint64_t{tally->litlen[s]} * litlen_length[s];
    fixed_bits += uint64_t{tally->litlen[s]} * t.fixed_litlen_length[s];
  }
  for (int s = 0; s < kDistCodes; ++s) {
    dynamic_bits += uint64_t{tally->dist[s]} * dist_length[s];
    fixed_bits += uint64_t{tally->dist[s]} * 5;
  }
  uint64_t pieces = raw_size == 0 ? 1 : (raw_size + kStoredPieceMax - 1) / kStoredPieceMax;
  uint64_t stored_bits = 8 * static_cast<uint64_t>(raw_size) + pieces * (3 + 32) + 7 * pieces;

  if (stored_bits < dynamic_bits && stored_bits < fixed_bits) {
    SendStored(raw, raw_size, final, out);
  } else if (fixed_bits <= dynamic_bits) {
    out->Put((final ? 1 : 0) | (1 << 1), 3);
    SendSymbols(t, symbols, count, t.fixed_litlen_code, t.fixed_litlen_length, t.fixed_distance_code,
                t.fixed_distance_length, out);
  } else {
    uint16_t litlen_code[kLitLenCodes];
    uint16_t dist_code[kDistCodes];
    uint16_t run_code[kCodeLengthCodes];
    BuildCanonicalCodes(litlen_length, kLitLenCodes, litlen_code);
    BuildCanonicalCodes(dist_length, kDistCodes, dist_code);
    BuildCanonicalCodes(run_length, kCodeLengthCodes, run_code);
    out->Put((final ? 1 : 0) | (2 << 1), 3);
    out->Put(hlit - 257, 5);
    out->Put(hdist - 1, 5);
    out->Put(hclen - 4, 4);
    out->Flush();
    for (int i = 0; i < hclen; ++i) {
      out->Put(run_length[kCodeLengthOrder[i]], 3);
      out->Flush();
    }
    for (int i = 0; i < runs.count; ++i) {
      unsigned sym = runs.symbol[i];
      out->Put(run_code[sym], run_length[sym]);
      out->Put(runs.extra[i], kRunExtraBits[sym]);
      out->Flush();
    }
    SendSymbols(t, symbols, count, litlen_code, litlen_length, dist_code, dist_length, out);
  }
  std::memset(tally, 0, sizeof(*tally));
}

}  // namespace zipengine

#include "zipengine/classic/inflate_decoder.h"

#include <cstdint>
#include <cstring>

#include "zipengine/classic/engine.h"
#include "zipengine/classic/inflate_tables.h"
#include "zipengine/classic/input_buffer.h"
#include "zipengine/classic/window_output.h"
#include "zipengine/common/code_length_reader.h"
#include "zipengine/common/deflate_format.h"

namespace zipengine {
namespace {

constexpr int kOk = 0;
constexpr int kBadData = 1;

struct FixedDecodeTables {
  DecodeEntry literal[kLiteralTableSize];
  DecodeEntry distance[kDistanceTableSize];
  FixedDecodeTables() {
    uint8_t lengths[288];
    for (unsigned n = 0; n < 288; ++n) lengths[n] = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
    BuildDecodeTable(CodeKind::kLiteralLengths, lengths, 288, kLiteralRootBits, literal);
    for (unsigned n = 0; n < 32; ++n) lengths[n] = 5;
    BuildDecodeTable(CodeKind::kDistances, lengths, 32, kDistanceRootBits, distance);
  }
};

const FixedDecodeTables& FixedTables() {
  static const FixedDecodeTables tables;
  return tables;
}

inline bool IsLink(unsigned kind) { return kind >= kEntryLink && kind < kEntryInvalid; }
inline bool IsBase(unsigned kind) { return kind >= kEntryBase && kind < kEntryEnd; }
inline uint64_t LowMask(unsigned bits) { return (uint64_t{1} << bits) - 1; }

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Copies a match of `length` bytes from `distance` back. Words are copied
// when the source runs at least a word behind; the copy may write up to 7
// bytes past the match, which the window's slack absorbs and later output
// overwrites.
inline void CopyMatch(unsigned char* to, unsigned distance, unsigned length) {
  const unsigned char* from = to - distance;
  if (distance >= 8) {
    unsigned char* end = to + length;
    do {
      std::memcpy(to, from, 8);
      to += 8;
      from += 8;
    } while (to < end);
  } else if (distance == 1) {
    std::memset(to, *from, length);
  } else {
    for (unsigned i = 0; i < length; ++i) to[i] = from[i];
  }
}

class Decoder {
 public:
  explicit Decoder(Engine* engine) : engine_(engine) {}

  int Run() {
    bool last;
    do {
      last = Take(1) != 0;
      unsigned type = Take(2);
      int result;
      if (type == 0) {
        result = StoredBlock();
      } else if (type == 1) {
        const FixedDecodeTables& fixed = FixedTables();
        result = CodedBlock(fixed.literal, fixed.distance);
      } else if (type == 2) {
        result = DynamicBlock();
      } else {
        result = kBadData;
      }
      if (result != kOk) return result;
    } while (!last);
    FlushWindow(engine_);
    // What is left of the last byte is padding; whole bytes taken ahead
    // belong to what follows the stream.
    Drop(bits_ & 7);
    GiveBackBytes();
    return kOk;
  }

  // The bit source of ReadCodeLengths, with the code-length code of the
  // dynamic block being read.
  int NextCodeLengthSymbol() {
    DecodeEntry e = DecodeSlow(engine_->decode.code_length, kCodeLengthRootBits);
    return EntryKind(e) == kEntryLiteral ? static_cast<int>(EntryValue(e)) : -1;
  }
  unsigned TakeBits(unsigned n) { return Take(n); }

 private:
  void Pull() {
    hold_ |= static_cast<uint64_t>(NextInputByte(engine_)) << bits_;
    bits_ += 8;
  }
  void Drop(unsigned n) {
    hold_ >>= n;
    bits_ -= n;
  }
  unsigned Take(unsigned n) {
    while (bits_ < n) Pull();
    unsigned value = static_cast<unsigned>(hold_ & LowMask(n));
    Drop(n);
    return value;
  }
  // Whole bytes in the bit buffer go back to the input. They were all taken
  // from the current input buffer: bytes are read ahead only in the fast
  // loop, which never refills.
  void GiveBackBytes() {
    engine_->input_position -= bits_ >> 3;
    bits_ &= 7;
    hold_ &= LowMask(bits_);
  }

  // One symbol, taking input bytes only as far as the code needs them.
  DecodeEntry DecodeSlow(const DecodeEntry* table, unsigned root_bits) {
    DecodeEntry e;
    while (EntryBits(e = table[hold_ & LowMask(root_bits)]) > bits_) Pull();
    if (IsLink(EntryKind(e))) {
      Drop(root_bits);
      unsigned sub_bits = EntryKind(e) - kEntryLink;
      const DecodeEntry* sub = table + EntryValue(e);
      while (EntryBits(e = sub[hold_ & LowMask(sub_bits)]) > bits_) Pull();
    }
    Drop(EntryBits(e));
    return e;
  }

  int StoredBlock() {
    Drop(bits_ & 7);
    GiveBackBytes();
    unsigned length = Take(16);
    unsigned complement = Take(16);
    if (length != (~complement & 0xffff)) return kBadData;
    WindowOutput& w = engine_->decoded;
    while (length != 0) {
      if (w.fill >= kWindowFlushMark) FlushAndSlideWindow(engine_);
      if (InputAvailable(engine_) == 0) {
        engine_->window[w.fill++] = static_cast<unsigned char>(FillInputBuffer(engine_));
        --length;
        continue;
      }
      unsigned piece = length;
      if (piece > InputAvailable(engine_)) piece = InputAvailable(engine_);
      if (piece > 2 * kWindowSize - w.fill) piece = 2 * kWindowSize - w.fill;
      std::memcpy(engine_->window + w.fill, engine_->input + engine_->input_position, piece);
      w.fill += piece;
      engine_->input_position += piece;
      length -= piece;
    }
    return kOk;
  }

  int DynamicBlock() {
    unsigned literal_count = Take(5) + 257;
    unsigned distance_count = Take(5) + 1;
    unsigned code_length_count = Take(4) + 4;
    if (literal_count > 286 || distance_count > 30) return kBadData;
    uint8_t lengths[286 + 30] = {};
    for (unsigned i = 0; i < code_length_count; ++i) lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(Take(3));
    DynamicDecodeTables& tables = engine_->decode;
    if (!BuildDecodeTable(CodeKind::kCodeLengths, lengths, 19, kCodeLengthRootBits, tables.code_length)) {
      return kBadData;
    }
    uint8_t code_lengths[286 + 30] = {};
    if (!ReadCodeLengths(*this, literal_count + distance_count, code_lengths)) return kBadData;
    if (!BuildDecodeTable(CodeKind::kLiteralLengths, code_lengths, literal_count, kLiteralRootBits, tables.literal) ||
        !BuildDecodeTable(CodeKind::kDistances, code_lengths + literal_count, distance_count, kDistanceRootBits,
                          tables.distance)) {
      return kBadData;
    }
    return CodedBlock(tables.literal, tables.distance);
  }

  int CodedBlock(const DecodeEntry* literals, const DecodeEntry* distances);

  Engine* const engine_;
  uint64_t hold_ = 0;  // bits not yet used, the next one lowest; zero above bits_
  unsigned bits_ = 0;
};

int Decoder::CodedBlock(const DecodeEntry* literals, const DecodeEntry* distances) {
  // One local copy of the engine pointer: window and input are then both
  // known to lie at fixed offsets from it, and the loop keeps one register
  // for the two instead of spilling one of them.
  Engine* const engine = engine_;
  unsigned char* const window = engine->window;
  WindowOutput& w = engine->decoded;
  const uint64_t literal_mask = LowMask(kLiteralRootBits);
  const uint64_t distance_mask = LowMask(kDistanceRootBits);
  for (;;) {
    // Fast loop: while a whole word of input can be loaded and a whole
    // match fits before the flush mark, no bound needs checking per byte.
    if (InputAvailable(engine) >= 8 && w.fill < kWindowFlushMark) {
      const unsigned char* input = engine->input;
      const unsigned last_load = engine->input_fill - 8;
      unsigned position = engine->input_position;
      unsigned out = w.fill;
      uint64_t hold = hold_;
      unsigned bits = bits_;
      int result = -1;
      do {
        // Tops the buffer up to 56..63 bits: enough for a length code, its
        // extra bits, a distance code and its extra bits (48 at most).
        hold |= Load64(input + position) << bits;
        position += (63 - bits) >> 3;
        bits |= 56;
        DecodeEntry e = literals[hold & literal_mask];
        unsigned kind = EntryKind(e);
        if (IsLink(kind)) {
          hold >>= kLiteralRootBits;
          bits -= kLiteralRootBits;
          e = literals[EntryValue(e) + (hold & LowMask(kind - kEntryLink))];
          kind = EntryKind(e);
        }
        hold >>= EntryBits(e);
        bits -= EntryBits(e);
        if (kind == kEntryLiteral) {
          window[out++] = static_cast<unsigned char>(EntryValue(e));
          continue;
        }
        if (!IsBase(kind)) {
          result = kind == kEntryEnd ? kOk : kBadData;
          break;
        }
        unsigned extra = kind - kEntryBase;
        unsigned length = EntryValue(e) + static_cast<unsigned>(hold & LowMask(extra));
        hold >>= extra;
        bits -= extra;
        e = distances[hold & distance_mask];
        kind = EntryKind(e);
        if (IsLink(kind)) {
          hold >>= kDistanceRootBits;
          bits -= kDistanceRootBits;
          e = distances[EntryValue(e) + (hold & LowMask(kind - kEntryLink))];
          kind = EntryKind(e);
        }
        hold >>= EntryBits(e);
        bits -= EntryBits(e);
        if (!IsBase(kind)) {
          result = kBadData;
          break;
        }
        extra = kind - kEntryBase;
        unsigned distance = EntryValue(e) + static_cast<unsigned>(hold & LowMask(extra));
        hold >>= extra;
        bits -= extra;
        if (distance > out) {  // before the start of the output
          result = kBadData;
          break;
        }
        CopyMatch(window + out, distance, length);
        out += length;
      } while (position <= last_load && out < kWindowFlushMark);
      engine->input_position = position;
      w.fill = out;
      hold_ = hold & LowMask(bits);
      bits_ = bits;
      GiveBackBytes();
      if (result >= 0) return result;
    }

    // Slow path: one symbol, near the end of the input buffer or when the
    // window needs flushing.
    if (w.fill >= kWindowFlushMark) FlushAndSlideWindow(engine);
    DecodeEntry e = DecodeSlow(literals, kLiteralRootBits);
    unsigned kind = EntryKind(e);
    if (kind == kEntryLiteral) {
      window[w.fill++] = static_cast<unsigned char>(EntryValue(e));
      continue;
    }
    if (kind == kEntryEnd) return kOk;
    if (!IsBase(kind)) return kBadData;
    unsigned length = EntryValue(e) + Take(kind - kEntryBase);
    e = DecodeSlow(distances, kDistanceRootBits);
    kind = EntryKind(e);
    if (!IsBase(kind)) return kBadData;
    unsigned distance = EntryValue(e) + Take(kind - kEntryBase);
    if (distance > w.fill) return kBadData;
    CopyMatch(window + w.fill, distance, length);
    w.fill += length;
  }
}

}  // namespace

int InflateStream(Engine* engine) {
  Decoder decoder(engine);
  return decoder.Run();
}

}  // namespace zipengine

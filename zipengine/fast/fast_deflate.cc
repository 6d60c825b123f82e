#include "zipengine/fast/fast_deflate.h"

#include <algorithm>
#include <cstring>

#include "zipengine/common/crc32.h"

namespace zipengine {
namespace {

// The buffer: a window of history, then a piece of new input. The piece is
// a multiple of the window, so sliding keeps chain slots in place.
constexpr int32_t kPieceSize = 1 << 20;
constexpr int32_t kBufferSize = kFastWindow + kPieceSize;

// Symbols per block: enough for the code tables to pay for themselves,
// few enough for the codes to follow the data (release-like data changes
// kind often: blocks of 8192 came out 0.6% smaller than blocks of 32768).
constexpr size_t kBlockSymbols = 8192;

// Room for the symbols that one step of the parse may add past the limit:
// a literal for every lazy step (fewer than kLazyLimit), or a literal and
// the skipped ones (at most kMaxSkip).
constexpr size_t kSymbolSpare = 128;

// Search effort, chosen on release-like data (machine code, text, some
// incompressible files) to come out no larger than gzip -6 at a fraction
// of its time: links walked in the long-string chain and in the short one;
// a quarter of each when the match in hand is already good; no further
// search once a match is nice; no lazy look at the next position once a
// match is this long. The long chain is deep because text of a small
// vocabulary needs it and costs little elsewhere: where strings of eight
// bytes seldom repeat, its chains are short. Walking 96 and 12 links
// rather than 128 and 16 is 4% faster for 0.1% more output on a
// release-like tree, still smaller than gzip -6's.
constexpr int kLongDepth = 96;
constexpr int kShortDepth = 12;
constexpr int kGoodLength = 8;
constexpr int kNiceLength = 128;
constexpr int kLazyLimit = 32;
// After every 64 positions in a row without a match, one more position is
// skipped between searches: data that does not compress (packed or random)
// is passed over quickly, and what matches it still has are mostly found.
constexpr int kSkipShift = 6;
constexpr int kMaxSkip = 32;

const unsigned char kGzipHeader[10] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0b};

}  // namespace

FastGzipStream::FastGzipStream()
    : buffer_(new unsigned char[kBufferSize + kFastBufferSpare]),
      symbols_(new FastSymbol[kBlockSymbols + kSymbolSpare]) {}

void FastGzipStream::Begin() {
  fill_ = 0;
  parse_pos_ = 0;
  block_start_ = 0;
  tables_ready_ = false;
  symbol_count_ = 0;
  std::memset(&tally_, 0, sizeof(tally_));
  out_used_ = 0;
  bits_ = FastBitOutput();
  crc_register_ = 0xffffffffu;
  length_ = 0;
  ReserveOutput(sizeof(kGzipHeader));
  std::memcpy(out_.get(), kGzipHeader, sizeof(kGzipHeader));
  out_used_ = sizeof(kGzipHeader);
}

unsigned char* FastGzipStream::InputSpace(size_t* room) {
  if (fill_ == kBufferSize) Compress(false);
  *room = static_cast<size_t>(kBufferSize - fill_);
  return buffer_.get() + fill_;
}

void FastGzipStream::Commit(size_t n) {
  crc_register_ = UpdateCrc32(crc_register_, buffer_.get() + fill_, n);
  length_ += static_cast<uint32_t>(n);
  fill_ += static_cast<int32_t>(n);
}

void FastGzipStream::Add(const unsigned char* data, size_t size) {
  while (size > 0) {
    size_t room = 0;
    unsigned char* space = InputSpace(&room);
    size_t take = std::min(room, size);
    std::memcpy(space, data, take);
    Commit(take);
    data += take;
    size -= take;
  }
}

void FastGzipStream::Finish() {
  Compress(true);
  ReserveOutput(16);
  bits_.next = out_.get() + out_used_;
  bits_.AlignToByte();
  out_used_ = static_cast<size_t>(bits_.next - out_.get());
  uint32_t crc = ~crc_register_;
  unsigned char* trailer = out_.get() + out_used_;
  for (int i = 0; i < 4; ++i) {
    trailer[i] = static_cast<unsigned char>(crc >> (8 * i));
    trailer[4 + i] = static_cast<unsigned char>(length_ >> (8 * i));
  }
  out_used_ += 8;
}

void FastGzipStream::ReserveOutput(size_t bytes) {
  if (out_capacity_ - out_used_ >= bytes) return;
  size_t capacity = std::max(out_capacity_ * 2, out_used_ + bytes);
  std::unique_ptr<unsigned char[]> bigger(new unsigned char[capacity]);
  if (out_used_ != 0) std::memcpy(bigger.get(), out_.get(), out_used_);
  out_ = std::move(bigger);
  out_capacity_ = capacity;
}

void FastGzipStream::WriteBlock(int32_t end, bool final) {
  size_t raw_size = static_cast<size_t>(end - block_start_);
  ReserveOutput(FastBlockBound(raw_size));
  bits_.next = out_.get() + out_used_;
  WriteFastBlock(symbols_.get(), symbol_count_, &tally_, buffer_.get() + block_start_, raw_size, final, &bits_);
  out_used_ = static_cast<size_t>(bits_.next - out_.get());
  symbol_count_ = 0;
  block_start_ = end;
}

void FastGzipStream::Compress(bool final) {
  if (!tables_ready_) {
    // A member that ends within its first piece is known in size (an empty
    // one is not "unknown").
    finder_.Reset(final ? std::max<size_t>(static_cast<size_t>(fill_), 1) : 0);
    tables_ready_ = true;
  }
  // Hashing near the end reads a few bytes past the data: make them the
  // same every time, so the output depends on the input alone.
  std::memset(buffer_.get() + fill_, 0, kFastBufferSpare);
  const unsigned char* buf = buffer_.get();
  const FastCodeTables& codes = GetFastCodeTables();
  FastSymbol* symbols = symbols_.get();
  const int32_t end = fill_;
  int32_t pos = parse_pos_;
  int32_t linked = pos;  // positions before this one are in the chains

  // The symbol count lives in a local while the loop runs: stores into the
  // symbol and tally arrays would otherwise make the compiler reload it.
  size_t count = symbol_count_;
  uint32_t* const litlen_tally = tally_.litlen;
  auto literal = [&](int32_t at) {
    symbols[count++] = FastSymbol{buf[at], 0};
    ++litlen_tally[buf[at]];
  };

  int misses = 0;
  while (pos < end) {
    if (end - pos < 4) {
      // Too short to hash: the last bytes go out as literals.
      literal(pos++);
      continue;
    }
    int distance = 0;
    const FastSearchEffort effort{kLongDepth, kShortDepth, kNiceLength};
    int len = finder_.FindAndInsert(buf, pos, std::min(kFastMaxMatch, end - pos), 2, effort, &distance);
    linked = pos + 1;
    if (len < 3) {
      literal(pos++);
      // Data that offers no matches (compressed or random) is searched
      // more sparsely the longer it goes on.
      int skip = std::min((++misses) >> kSkipShift, kMaxSkip);
      for (; skip > 0 && end - pos >= 4; --skip) literal(pos++);
    } else {
      misses = 0;
      // Lazy parse: a longer match starting one byte later is worth a
      // literal first.
      while (len < kLazyLimit && end - (pos + 1) >= 4) {
        int next_distance = 0;
        const FastSearchEffort lazy =
            len >= kGoodLength ? FastSearchEffort{kLongDepth / 4, kShortDepth / 4, kNiceLength} : effort;
        int next_len =
            finder_.FindAndInsert(buf, pos + 1, std::min(kFastMaxMatch, end - pos - 1), len, lazy, &next_distance);
        linked = pos + 2;
        if (next_len <= len) break;
        literal(pos++);
        len = next_len;
        distance = next_distance;
      }
      symbols[count++] = FastSymbol{static_cast<uint16_t>(len), static_cast<uint16_t>(distance)};
      TallyMatch(codes, &tally_, static_cast<unsigned>(len), static_cast<unsigned>(distance));
      int32_t match_end = pos + len;
      finder_.InsertRange(buf, std::max(linked, pos + 1), match_end);
      linked = match_end;
      pos = match_end;
    }
    if (count >= kBlockSymbols) {
      symbol_count_ = count;
      WriteBlock(pos, false);
      count = 0;
    }
  }
  symbol_count_ = count;
  parse_pos_ = pos;
  if (final || symbol_count_ != 0) WriteBlock(pos, final);

  if (!final && fill_ == kBufferSize) {
    const int32_t shift = kPieceSize;
    std::memmove(buffer_.get(), buffer_.get() + shift, static_cast<size_t>(fill_ - shift));
    fill_ -= shift;
    parse_pos_ -= shift;
    block_start_ -= shift;
    finder_.Slide(shift);
  }
}

}  // namespace zipengine

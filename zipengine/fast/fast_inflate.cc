#include "zipengine/fast/fast_inflate.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "zipengine/common/crc32.h"
#include "zipengine/fast/fast_inflate_core.h"

namespace zipengine {

using fast_inflate::BitInput;
using fast_inflate::CodesEnd;
using fast_inflate::DecodeCodes;
using fast_inflate::kOutputBufferSize;
using fast_inflate::kPieceSize;
using fast_inflate::kWindowSize;
using fast_inflate::ReadDynamicTables;
using fast_inflate::Shared;
using fast_inflate::Tables;

GzipMemberDecoder::GzipMemberDecoder() : tables_(new Tables), window_(new unsigned char[kOutputBufferSize]) {}

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
    const uint32_t* lit = Shared().fixed_lit;
    const uint32_t* dist = Shared().fixed_dist;
    if (type == 2) {
      if (!ReadDynamicTables(&in, &t)) return false;
      lit = t.lit;
      dist = t.dist;
    }
    CodesEnd end;
    while ((end = DecodeCodes(&in, lit, dist, start, &out, limit)) == CodesEnd::kFull) slide();
    if (end != CodesEnd::kBlockEnd) return false;
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

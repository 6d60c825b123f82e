#include "delta/patch_format.h"

#include <cstring>

namespace delta {
namespace {

void Put16(uint16_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint32_t v, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint64_t v, uint8_t* p) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

void EncodeHeader(const PatchHeader& h, uint8_t out[kPatchHeaderSize]) {
  std::memcpy(out, h.magic, sizeof(h.magic));
  Put16(h.version, out + 8);
  Put16(h.flags, out + 10);
  Put32(h.block_count, out + 12);
  Put64(h.old_size, out + 16);
  Put64(h.new_size, out + 24);
  Put32(h.new_crc32, out + 32);
  Put32(h.reserved, out + 36);
}

void DecodeHeader(const uint8_t in[kPatchHeaderSize], PatchHeader* h) {
  std::memcpy(h->magic, in, sizeof(h->magic));
  h->version = Get16(in + 8);
  h->flags = Get16(in + 10);
  h->block_count = Get32(in + 12);
  h->old_size = Get64(in + 16);
  h->new_size = Get64(in + 24);
  h->new_crc32 = Get32(in + 32);
  h->reserved = Get32(in + 36);
}

void EncodeBlockHeader(const BlockHeader& h, uint8_t out[kBlockHeaderSize]) {
  const uint32_t fields[6] = {h.control_size, h.control_stored, h.diff_size,
                              h.diff_stored,  h.extra_size,     h.extra_stored};
  for (int i = 0; i < 6; ++i) Put32(fields[i], out + 4 * i);
}

void DecodeBlockHeader(const uint8_t in[kBlockHeaderSize], BlockHeader* h) {
  h->control_size = Get32(in);
  h->control_stored = Get32(in + 4);
  h->diff_size = Get32(in + 8);
  h->diff_stored = Get32(in + 12);
  h->extra_size = Get32(in + 16);
  h->extra_stored = Get32(in + 20);
}

size_t PutVarint(uint64_t value, uint8_t* out) {
  size_t n = 0;
  while (value >= 0x80) {
    out[n++] = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[n++] = static_cast<uint8_t>(value);
  return n;
}

bool GetVarint(const uint8_t* data, size_t end, size_t* pos, uint64_t* value) {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (*pos >= end) return false;
    const uint8_t byte = data[(*pos)++];
    // The tenth byte holds the top bit alone.
    if (shift == 63 && byte > 1) return false;
    v |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (!(byte & 0x80)) {
      *value = v;
      return true;
    }
  }
  return false;
}

}  // namespace delta

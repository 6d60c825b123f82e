// The on-disk layout of a filedist patch (docs/patch_format.md says it in
// prose). All integers are little-endian; the layouts below are written and
// read field by field, never by copying structs, so the bytes are the same
// from every compiler and on every target. The structs exist to pin the
// layout: a change to them fails to compile here first.
//
//   PatchHeader                        40 bytes
//   block_count times:
//     BlockHeader                      24 bytes
//     control stream, stored           control_stored bytes
//     diff stream, stored              diff_stored bytes
//     extra stream, stored             extra_stored bytes
//   (nothing after the last block)
//
// A stream is stored raw when its stored size equals its size, and as one
// gzip member of the engine's deflate when smaller; a stored size above the
// size is refused. An empty stream takes no bytes.
#ifndef FILEDIST_DELTA_PATCH_FORMAT_H
#define FILEDIST_DELTA_PATCH_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace delta {

constexpr uint8_t kPatchMagic[8] = {'F', 'D', 'P', 'A', 'T', 'C', 'H', 0x1a};
constexpr uint16_t kPatchVersion = 1;

struct PatchHeader {
  uint8_t magic[8];
  uint16_t version;  // kPatchVersion
  uint16_t flags;    // 0; any other value is refused
  uint32_t block_count;
  uint64_t old_size;   // the file the patch applies to
  uint64_t new_size;   // the file it makes
  uint32_t new_crc32;  // CRC-32 (RFC 1952) of the file it makes
  uint32_t reserved;   // 0
};
static_assert(sizeof(PatchHeader) == 40, "PatchHeader is 40 bytes on disk");
static_assert(offsetof(PatchHeader, version) == 8, "layout");
static_assert(offsetof(PatchHeader, block_count) == 12, "layout");
static_assert(offsetof(PatchHeader, old_size) == 16, "layout");
static_assert(offsetof(PatchHeader, new_size) == 24, "layout");
static_assert(offsetof(PatchHeader, new_crc32) == 32, "layout");
constexpr size_t kPatchHeaderSize = sizeof(PatchHeader);

// Sizes of a block's three streams, decoded (size) and as stored.
struct BlockHeader {
  uint32_t control_size;
  uint32_t control_stored;
  uint32_t diff_size;
  uint32_t diff_stored;
  uint32_t extra_size;
  uint32_t extra_stored;
};
static_assert(sizeof(BlockHeader) == 24, "BlockHeader is 24 bytes on disk");
static_assert(offsetof(BlockHeader, diff_size) == 8, "layout");
static_assert(offsetof(BlockHeader, extra_stored) == 20, "layout");
constexpr size_t kBlockHeaderSize = sizeof(BlockHeader);

// No stream of a block decodes to more than this: the reader's memory is a
// few buffers of this size whatever the files' sizes.
constexpr uint32_t kMaxBlockStreamSize = 1u << 20;
// A stored gzip member is never larger than its input plus this (stored
// deflate blocks of 5 bytes per 64 KiB, the gzip header and trailer): the
// writer keeps a stream raw when deflate does not make it smaller anyway.
constexpr uint32_t kMaxBlockStoredSize = kMaxBlockStreamSize;

// The diff stream is a run of tokens: varint zeros, varint count, then
// count literal bytes. A run of zeros shorter than this stays among the
// literals (deflate codes it as well, and a token costs bytes).
constexpr uint32_t kMinZeroRun = 32;
// Literal bytes per token at most, so that a token always fits a block.
constexpr uint32_t kMaxLiteralRun = 1u << 16;

// Each instruction in the control stream: zigzag varint seek (moves the
// old file's position, which starts at 0), varint add (that many bytes of
// the old file from there plus as many from the diff stream; the position
// moves past them), varint insert (that many bytes of the extra stream).
// At most this many bytes.
constexpr size_t kMaxInstructionSize = 30;

void EncodeHeader(const PatchHeader& header, uint8_t out[kPatchHeaderSize]);
void DecodeHeader(const uint8_t in[kPatchHeaderSize], PatchHeader* header);
void EncodeBlockHeader(const BlockHeader& header, uint8_t out[kBlockHeaderSize]);
void DecodeBlockHeader(const uint8_t in[kBlockHeaderSize], BlockHeader* header);

// LEB128 varints (7 bits a byte, low first). Put returns the bytes written
// (at most 10). Get reads from [*pos, end): false when it runs past end or
// the value does not fit 64 bits.
size_t PutVarint(uint64_t value, uint8_t* out);
bool GetVarint(const uint8_t* data, size_t end, size_t* pos, uint64_t* value);
inline uint64_t ZigZag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ (v < 0 ? ~uint64_t{0} : 0);
}
inline int64_t UnZigZag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

}  // namespace delta

#endif  // FILEDIST_DELTA_PATCH_FORMAT_H

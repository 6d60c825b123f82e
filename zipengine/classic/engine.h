// The gzip engine: all the state a compression or decompression run keeps,
// in one object that owns its parts. Every engine function takes the engine
// it works on; nothing of a run lives anywhere else.
//
// The classes run on one process-wide instance (SharedEngine). The
// compressor and the decompressor share its buffers (a run never needs
// both), so the library carries one set of static buffers instead of
// allocating per run.
#ifndef FILEDIST_ZIPENGINE_CLASSIC_ENGINE_H
#define FILEDIST_ZIPENGINE_CLASSIC_ENGINE_H

#include <cstdint>

#include "zipengine/classic/deflate_tables.h"
#include "zipengine/classic/inflate_tables.h"

namespace zipengine {

constexpr unsigned kWindowSize = 32768;  // largest match distance
constexpr unsigned kWindowMask = kWindowSize - 1;
constexpr unsigned kInputBufferSize = 32768;
// Wide loads may look this far past the input fill; the bytes are never used.
constexpr unsigned kInputBufferSpare = 64;
constexpr unsigned kOutputBufferSize = 16384;
constexpr unsigned kOutputBufferSpare = 2048;
// Word-wide match comparison and match copies may run this far past the
// window's end.
constexpr unsigned kWindowSpare = 512;
constexpr unsigned kHashSize = 32768;
constexpr unsigned kLiteralBufferSize = 32768;
constexpr unsigned kDistanceBufferSize = 32768;
constexpr unsigned kFlagBufferSize = 4096;
constexpr unsigned kInputNameSize = 260;

// Compressor: where the match finder stands in the sliding window.
struct MatchState {
  unsigned position;   // current string start in the window
  unsigned lookahead;  // valid bytes from position on
  unsigned match_start;
  unsigned hash_key;
  long block_start;  // window position of the current block; negative once slid out
  bool input_ended;
};

// Compressor: the symbol frequencies of the block being gathered (its
// symbols wait in the engine's literal, distance and flag buffers) and the
// trees built from them when it closes.
struct BlockTallies {
  TreeNode literal_tree[2 * kLiteralLengthCodes + 1];
  TreeNode distance_tree[2 * kDistanceCodes + 1];
  TreeNode code_length_tree[2 * kCodeLengthCodes + 1];
  unsigned symbols;     // entries in the literal buffer
  unsigned matches;     // entries in the distance buffer
  unsigned flag_bytes;  // complete bytes in the flag buffer
  unsigned flag_acc;    // flags of the symbols since the last complete byte
  unsigned flag_bit;
};

// Compressor: bits not yet stored in the output buffer.
struct BitWriter {
  uint64_t bits;   // pending bits, the oldest in the low end
  unsigned count;  // number of pending bits, below 32 between calls
};

// Decompressor: how far the window is decoded and written out.
struct WindowOutput {
  unsigned fill;     // window bytes decoded
  unsigned flushed;  // window bytes already written out
};

// Decompressor: the codes of the dynamic block being decoded (the fixed
// codes' tables are built once for the process and never change).
struct DynamicDecodeTables {
  DecodeEntry literal[kLiteralTableSize];
  DecodeEntry distance[kDistanceTableSize];
  DecodeEntry code_length[kCodeLengthTableSize];
};

struct Engine {
  // Source bytes for the decompressor; the compressor keeps its literals here.
  unsigned char input[kInputBufferSize + kInputBufferSpare];
  unsigned input_position;
  unsigned input_fill;

  // Sliding window of the compressor; output window of the decompressor.
  unsigned char window[2 * kWindowSize + kWindowSpare];
  unsigned char output[kOutputBufferSize + kOutputBufferSpare];
  // Bytes waiting in the output buffer (compressor) or window (decompressor).
  unsigned output_count;

  uint16_t hash_chain[kWindowSize];
  uint16_t hash_head[kHashSize];
  uint16_t distances[kDistanceBufferSize];
  uint8_t flags[kFlagBufferSize];

  uint32_t crc;            // running register, starts all ones
  uint32_t bytes_read;     // compressor: uncompressed bytes taken in
  uint32_t bytes_written;  // decompressor: uncompressed bytes given out
  int source_fd;
  int destination_fd;

  // The name a compression stores in its header: the running CZip's source,
  // or before any run the most recently constructed one's. Kept between
  // runs.
  char input_name[kInputNameSize];
  int store_name;
  // The running object's own source name, whole, for the messages; set at
  // the start of every run (it points into the object, so it means nothing
  // between runs).
  const char* source_name;

  int method;               // -1 unknown, 8 deflate, 0 stored, 1..3 recognised only
  int zip_entry;            // decoding the first entry of a zip archive
  int sizes_in_descriptor;  // that entry's check values follow its data

  MatchState match;
  BlockTallies block;
  BitWriter bits;
  WindowOutput decoded;
  DynamicDecodeTables decode;
};

// The engine the classes run on, one for the process.
Engine* SharedEngine();

// What a run reads and writes, and the name its messages give the source
// (whole, as the caller named it; it must outlive the run).
struct RunFiles {
  int source_fd;
  int destination_fd;
  const char* source_name;
};

// Begins a run: every part of the engine starts the same way whatever the
// previous run (finished or aborted) left behind. Only the stored name
// carries over. The compressor and the decompressor call it before anything
// else; it is the one place a run is set up.
void BeginRun(Engine* engine, const RunFiles& files);

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_CLASSIC_ENGINE_H

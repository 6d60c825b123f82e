// The one process-wide state of the gzip engine. The compressor and the
// decompressor share its buffers (a run never needs both), so the library
// carries one set of static buffers instead of allocating per run.
#ifndef FILEDIST_ZIPENGINE_ENGINE_STATE_H
#define FILEDIST_ZIPENGINE_ENGINE_STATE_H

#include <cstdint>

namespace zipengine {

constexpr unsigned kWindowSize = 32768;        // largest match distance
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

struct EngineState {
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
  // or before any run the most recently constructed one's.
  char input_name[kInputNameSize];
  int store_name;
  // The running object's own source name, whole, for the messages; set at
  // the start of every run (it points into the object, so it means nothing
  // between runs).
  const char* source_name;

  int method;               // -1 unknown, 8 deflate, 0 stored, 1..3 recognised only
  int zip_entry;            // decoding the first entry of a zip archive
  int sizes_in_descriptor;  // that entry's check values follow its data
};

extern EngineState g_engine;

// Empties the buffers and header flags so that a run starts the same way
// whatever the previous run (finished or aborted) left behind.
void StartRun();

}  // namespace zipengine

#endif  // FILEDIST_ZIPENGINE_ENGINE_STATE_H

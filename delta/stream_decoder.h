// The reader's side of a block: reads the three stored streams from the
// patch and decodes them into buffers that grow to what the blocks need,
// kMaxBlockStreamSize at most (a small patch takes little memory).
#ifndef FILEDIST_DELTA_STREAM_DECODER_H
#define FILEDIST_DELTA_STREAM_DECODER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "delta/patch_apply.h"
#include "delta/patch_format.h"

namespace zipengine {
class GzipMemberDecoder;
}

namespace delta {

// Reads exactly size bytes; false (with *error) on a read error or when
// the patch ends first.
bool ReadExactly(PatchInput* input, uint8_t* buffer, size_t size, std::string* error);

class BlockStreams {
 public:
  BlockStreams();
  ~BlockStreams();

  // Checks the block's sizes and reads and decodes its streams. False with
  // *error for sizes out of bounds, a short patch or a damaged stream.
  bool Load(PatchInput* input, const BlockHeader& header, std::string* error);

  const uint8_t* control() const { return control_.data(); }
  const uint8_t* diff() const { return diff_.data(); }
  const uint8_t* extra() const { return extra_.data(); }

 private:
  bool LoadOne(PatchInput* input, uint32_t size, uint32_t stored, std::vector<uint8_t>* out,
               std::string* error);

  std::vector<uint8_t> stored_;
  std::vector<uint8_t> control_, diff_, extra_;
  std::unique_ptr<zipengine::GzipMemberDecoder> inflate_;  // made when first needed
};

// Bytes a BlockStreams holds, for PatchApplyMemory.
uint64_t BlockStreamsMemory();

}  // namespace delta

#endif  // FILEDIST_DELTA_STREAM_DECODER_H

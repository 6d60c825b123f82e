// Turns instructions into the patch's bytes: encodes the control, diff and
// extra streams, cuts them into blocks whose streams stay within
// kMaxBlockStreamSize (splitting an instruction where it must), and stores
// each stream raw or deflated, whichever is smaller.
#ifndef FILEDIST_DELTA_PATCH_WRITER_H
#define FILEDIST_DELTA_PATCH_WRITER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "delta/match_scan.h"

namespace zipengine {
class FastGzipStream;
}

namespace delta {

class PatchWriter : public InstructionSink {
 public:
  // The files must outlive the writer; the patch goes to *patch (replaced).
  PatchWriter(const uint8_t* old_data, uint64_t old_size, const uint8_t* new_data,
              uint64_t new_size, std::vector<uint8_t>* patch);
  ~PatchWriter();

  bool Take(const Instruction& instruction) override;
  // Writes the last block and the header's counts. Reads only the two
  // files: whatever found the instructions may be gone by then.
  void Finish();

 private:
  void PutControl(int64_t seek, int64_t add, int64_t insert);
  void FlushBlock();
  void StoreStream(const std::vector<uint8_t>& raw, uint32_t* stored_size);

  const uint8_t* old_;
  const uint8_t* new_;
  std::vector<uint8_t>* patch_;
  std::unique_ptr<zipengine::FastGzipStream> deflate_;
  std::vector<uint8_t> control_, diff_, extra_;
  std::vector<uint8_t> stored_;
  int64_t old_cursor_ = 0;  // the reader's old position so far
  uint32_t block_count_ = 0;
  uint32_t new_crc_register_ = 0xffffffffu;
  uint64_t old_size_, new_size_;
};

}  // namespace delta

#endif  // FILEDIST_DELTA_PATCH_WRITER_H

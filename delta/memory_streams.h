// The patch reader's inputs and output over memory: a patch or an old file
// held in a buffer, a new file gathered into a vector. For tests, fuzzing
// and callers that already hold the bytes. The objects keep pointers to
// the caller's memory, which must outlive them.
#ifndef FILEDIST_DELTA_MEMORY_STREAMS_H
#define FILEDIST_DELTA_MEMORY_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "delta/patch_apply.h"

namespace delta {

class MemoryPatchInput : public PatchInput {
 public:
  MemoryPatchInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Read(uint8_t* buffer, size_t size, size_t* got) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class MemoryOldInput : public OldInput {
 public:
  MemoryOldInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* buffer, size_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

class VectorNewOutput : public NewOutput {
 public:
  explicit VectorNewOutput(std::vector<uint8_t>* out) : out_(out) {}
  bool Write(const uint8_t* data, size_t size) override;

 private:
  std::vector<uint8_t>* out_;
};

}  // namespace delta

#endif  // FILEDIST_DELTA_MEMORY_STREAMS_H

#include "delta/memory_streams.h"

#include <algorithm>
#include <cstring>

namespace delta {

bool MemoryPatchInput::Read(uint8_t* buffer, size_t size, size_t* got) {
  *got = std::min(size, size_ - pos_);
  if (*got > 0) std::memcpy(buffer, data_ + pos_, *got);
  pos_ += *got;
  return true;
}

bool MemoryOldInput::ReadAt(uint64_t offset, uint8_t* buffer, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size > 0) std::memcpy(buffer, data_ + offset, size);
  return true;
}

bool VectorNewOutput::Write(const uint8_t* data, size_t size) {
  out_->insert(out_->end(), data, data + size);
  return true;
}

}  // namespace delta

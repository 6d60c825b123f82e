#include "delta/stream_decoder.h"

#include <cstring>

#include "zipengine/common/crc32.h"
#include "zipengine/fast/fast_inflate.h"

namespace delta {
namespace {

// Takes the decoded bytes into a buffer of known size; more than that is
// counted, not stored.
class BoundedSink : public zipengine::GzipMemberDecoder::Sink {
 public:
  BoundedSink(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Take(const unsigned char* data, size_t size) override {
    if (size > capacity_ - used_ || overflow_) {
      overflow_ = true;
      return;
    }
    std::memcpy(out_ + used_, data, size);
    crc_ = zipengine::UpdateCrc32(crc_, data, size);
    used_ += size;
  }
  bool overflow() const { return overflow_; }
  size_t used() const { return used_; }
  uint32_t crc() const { return ~crc_; }

 private:
  uint8_t* out_;
  size_t capacity_;
  size_t used_ = 0;
  bool overflow_ = false;
  uint32_t crc_ = 0xffffffffu;
};

}  // namespace

bool ReadExactly(PatchInput* input, uint8_t* buffer, size_t size, std::string* error) {
  while (size > 0) {
    size_t got = 0;
    if (!input->Read(buffer, size, &got)) {
      *error = "cannot read the patch";
      return false;
    }
    if (got == 0 || got > size) {
      *error = "patch ends early";
      return false;
    }
    buffer += got;
    size -= got;
  }
  return true;
}

BlockStreams::BlockStreams() = default;

BlockStreams::~BlockStreams() = default;

uint64_t BlockStreamsMemory() {
  // The stored and decoded buffers, and the inflater's tables and window
  // (its 1 MiB piece and 32 KiB of history, with room to spare).
  return uint64_t{kMaxBlockStoredSize} + 3 * uint64_t{kMaxBlockStreamSize} + (1200u << 10);
}

bool BlockStreams::LoadOne(PatchInput* input, uint32_t size, uint32_t stored,
                           std::vector<uint8_t>* out, std::string* error) {
  if (size > kMaxBlockStreamSize || stored > size) {
    *error = "damaged patch: block sizes out of bounds";
    return false;
  }
  // Grown, never shrunk: the buffers end as large as the largest block.
  // The sizes are checked before anything is allocated for them.
  if (out->size() < size) out->resize(size);
  if (stored == size) return ReadExactly(input, out->data(), size, error);
  if (stored_.size() < stored) stored_.resize(stored);
  if (!ReadExactly(input, stored_.data(), stored, error)) return false;
  if (!inflate_) inflate_.reset(new zipengine::GzipMemberDecoder);
  BoundedSink sink(out->data(), size);
  uint32_t trailer_crc = 0, trailer_length = 0;
  if (!inflate_->Decode(stored_.data(), stored, &sink, &trailer_crc, &trailer_length) ||
      sink.overflow() || sink.used() != size || trailer_length != size ||
      trailer_crc != sink.crc()) {
    *error = "damaged patch: a stream does not decode";
    return false;
  }
  return true;
}

bool BlockStreams::Load(PatchInput* input, const BlockHeader& h, std::string* error) {
  return LoadOne(input, h.control_size, h.control_stored, &control_, error) &&
         LoadOne(input, h.diff_size, h.diff_stored, &diff_, error) &&
         LoadOne(input, h.extra_size, h.extra_stored, &extra_, error);
}

}  // namespace delta

#include "delta/patch_apply.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "delta/patch_format.h"
#include "delta/stream_decoder.h"
#include "zipengine/common/crc32.h"

namespace delta {
namespace {

// The old file is read in aligned pages of kOldPage bytes, kept in
// kOldPages slots chosen by page number: copies move forwards in small
// steps and jump between a few regions (patches of compiled code seek tens
// of thousands of times), so most are served without a read, and a read
// never takes much more than the copy needs.
constexpr size_t kOldPage = 8 << 10;
constexpr size_t kOldPages = 128;
constexpr size_t kOutputBuffer = 256 << 10;

class OldPages {
 public:
  explicit OldPages(OldInput* old)
      : old_(old), size_(old->Size()), buffer_(new uint8_t[kOldPage * kOldPages]) {
    for (uint64_t& t : tag_) t = ~uint64_t{0};
  }
  // Up to want bytes at offset (offset < size); *available of them (at
  // least one). Null when the old file cannot be read.
  const uint8_t* At(uint64_t offset, size_t want, size_t* available) {
    const uint64_t page = offset / kOldPage;
    const size_t slot = static_cast<size_t>(page % kOldPages);
    uint8_t* data = buffer_.get() + slot * kOldPage;
    const uint64_t start = page * kOldPage;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kOldPage, size_ - start));
    if (tag_[slot] != page) {
      tag_[slot] = ~uint64_t{0};
      if (!old_->ReadAt(start, data, length)) return nullptr;
      tag_[slot] = page;
    }
    const size_t at = static_cast<size_t>(offset - start);
    *available = std::min(want, length - at);
    return data + at;
  }

 private:
  OldInput* old_;
  uint64_t size_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint64_t tag_[kOldPages];
};

// The new file through a buffer, with its CRC-32.
class OutputBuffer {
 public:
  OutputBuffer(NewOutput* out, uint64_t new_size)
      : out_(out),
        capacity_(static_cast<size_t>(std::min<uint64_t>(kOutputBuffer, new_size + 1))),
        buffer_(new uint8_t[capacity_]) {}
  // Free space, at least one byte.
  uint8_t* Space(size_t* room) {
    if (used_ == capacity_ && !Flush()) return nullptr;
    *room = capacity_ - used_;
    return buffer_.get() + used_;
  }
  void Commit(size_t n) { used_ += n; }
  bool Flush() {
    if (used_ == 0) return true;
    crc_ = zipengine::UpdateCrc32(crc_, buffer_.get(), used_);
    const bool ok = out_->Write(buffer_.get(), used_);
    used_ = 0;
    return ok;
  }
  uint32_t crc() const { return ~crc_; }

 private:
  NewOutput* out_;
  size_t capacity_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t used_ = 0;
  uint32_t crc_ = 0xffffffffu;
};

class Applier {
 public:
  Applier(OldInput* old, NewOutput* out, uint64_t new_size)
      : old_size_(old->Size()), new_size_(new_size), old_(old), out_(out, new_size) {}

  bool Run(PatchInput* patch, uint32_t block_count, std::string* error);
  uint32_t crc() const { return out_.crc(); }

 private:
  bool Block(const BlockHeader& h, std::string* error);
  bool Add(uint64_t count, std::string* error);
  bool Insert(uint64_t count, std::string* error);
  bool Fail(const char* why, std::string* error) {
    *error = why;
    return false;
  }

  const uint64_t old_size_;
  const uint64_t new_size_;
  uint64_t old_pos_ = 0;
  uint64_t new_pos_ = 0;
  OldPages old_;
  OutputBuffer out_;
  BlockStreams streams_;
  // The diff stream of the current block: read position, and what is
  // left of the token in hand.
  const uint8_t* diff_ = nullptr;
  size_t diff_size_ = 0;
  size_t diff_pos_ = 0;
  uint64_t zeros_left_ = 0;
  uint64_t literals_left_ = 0;
  const uint8_t* extra_ = nullptr;
  size_t extra_size_ = 0;
  size_t extra_pos_ = 0;
};

bool Applier::Run(PatchInput* patch, uint32_t block_count, std::string* error) {
  for (uint32_t b = 0; b < block_count; ++b) {
    uint8_t head[kBlockHeaderSize];
    if (!ReadExactly(patch, head, sizeof(head), error)) return false;
    BlockHeader h;
    DecodeBlockHeader(head, &h);
    if (h.control_size == 0) return Fail("damaged patch: empty block", error);
    if (!streams_.Load(patch, h, error)) return false;
    if (!Block(h, error)) return false;
  }
  if (new_pos_ != new_size_) return Fail("patch makes a shorter file than expected", error);
  if (!out_.Flush()) return Fail("cannot write the patched file", error);
  return true;
}

bool Applier::Block(const BlockHeader& h, std::string* error) {
  const uint8_t* control = streams_.control();
  diff_ = streams_.diff();
  diff_size_ = h.diff_size;
  diff_pos_ = 0;
  zeros_left_ = literals_left_ = 0;
  extra_ = streams_.extra();
  extra_size_ = h.extra_size;
  extra_pos_ = 0;
  for (size_t pos = 0; pos < h.control_size;) {
    uint64_t seek_code = 0, add = 0, insert = 0;
    if (!GetVarint(control, h.control_size, &pos, &seek_code) ||
        !GetVarint(control, h.control_size, &pos, &add) ||
        !GetVarint(control, h.control_size, &pos, &insert)) {
      return Fail("damaged patch: bad instruction", error);
    }
    const int64_t seek = UnZigZag(seek_code);
    if (seek < 0 ? static_cast<uint64_t>(-(seek + 1)) + 1 > old_pos_
                 : static_cast<uint64_t>(seek) > old_size_ - old_pos_) {
      return Fail("damaged patch: seeks outside the old file", error);
    }
    old_pos_ += static_cast<uint64_t>(seek);
    if (add > old_size_ - old_pos_) return Fail("damaged patch: reads past the old file", error);
    if (add > new_size_ - new_pos_ || insert > new_size_ - new_pos_ - add) {
      return Fail("patch makes a longer file than expected", error);
    }
    if (!Add(add, error) || !Insert(insert, error)) return false;
  }
  if (diff_pos_ != diff_size_ || zeros_left_ != 0 || literals_left_ != 0 ||
      extra_pos_ != extra_size_) {
    return Fail("damaged patch: streams of a block left over", error);
  }
  return true;
}

bool Applier::Add(uint64_t count, std::string* error) {
  while (count > 0) {
    if (zeros_left_ == 0 && literals_left_ == 0) {
      if (!GetVarint(diff_, diff_size_, &diff_pos_, &zeros_left_) ||
          !GetVarint(diff_, diff_size_, &diff_pos_, &literals_left_) ||
          literals_left_ > diff_size_ - diff_pos_ || (zeros_left_ == 0 && literals_left_ == 0)) {
        return Fail("damaged patch: bad diff stream", error);
      }
    }
    size_t room = 0;
    uint8_t* space = out_.Space(&room);
    if (space == nullptr) return Fail("cannot write the patched file", error);
    const uint64_t run = zeros_left_ > 0 ? zeros_left_ : literals_left_;
    size_t available = 0;
    const uint8_t* old =
        old_.At(old_pos_, static_cast<size_t>(std::min<uint64_t>({run, count, room})), &available);
    if (old == nullptr) return Fail("cannot read the old file", error);
    if (zeros_left_ > 0) {
      std::memcpy(space, old, available);
      zeros_left_ -= available;
    } else {
      const uint8_t* d = diff_ + diff_pos_;
      for (size_t i = 0; i < available; ++i) space[i] = static_cast<uint8_t>(old[i] + d[i]);
      diff_pos_ += available;
      literals_left_ -= available;
    }
    out_.Commit(available);
    old_pos_ += available;
    new_pos_ += available;
    count -= available;
  }
  return true;
}

bool Applier::Insert(uint64_t count, std::string* error) {
  if (count > extra_size_ - extra_pos_) return Fail("damaged patch: bad extra stream", error);
  while (count > 0) {
    size_t room = 0;
    uint8_t* space = out_.Space(&room);
    if (space == nullptr) return Fail("cannot write the patched file", error);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(room, count));
    std::memcpy(space, extra_ + extra_pos_, n);
    out_.Commit(n);
    extra_pos_ += n;
    new_pos_ += n;
    count -= n;
  }
  return true;
}

}  // namespace

uint64_t PatchApplyMemory() {
  return BlockStreamsMemory() + kOldPage * kOldPages + kOutputBuffer + sizeof(Applier);
}

bool ApplyPatch(PatchInput* patch, OldInput* old, uint64_t expected_new_size, NewOutput* out,
                std::string* error) {
  uint8_t head[kPatchHeaderSize];
  if (!ReadExactly(patch, head, sizeof(head), error)) return false;
  PatchHeader h;
  DecodeHeader(head, &h);
  if (std::memcmp(h.magic, kPatchMagic, sizeof(h.magic)) != 0) {
    *error = "not a filedist patch";
    return false;
  }
  if (h.version != kPatchVersion || h.flags != 0 || h.reserved != 0) {
    *error = "patch of an unknown version";
    return false;
  }
  if (h.old_size != old->Size()) {
    *error = "patch is for an old file of another size";
    return false;
  }
  if (h.new_size != expected_new_size) {
    *error = "patch makes a file of another size than expected";
    return false;
  }
  try {
    std::unique_ptr<Applier> applier(new Applier(old, out, h.new_size));
    if (!applier->Run(patch, h.block_count, error)) return false;
    uint8_t extra = 0;
    size_t got = 0;
    if (!patch->Read(&extra, 1, &got)) {
      *error = "cannot read the patch";
      return false;
    }
    if (got != 0) {
      *error = "damaged patch: bytes after its end";
      return false;
    }
    if (applier->crc() != h.new_crc32) {
      *error = "patched file fails its CRC-32";
      return false;
    }
  } catch (const std::bad_alloc&) {
    *error = "out of memory applying a patch";
    return false;
  }
  return true;
}

}  // namespace delta

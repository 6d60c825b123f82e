#include "delta/patch_writer.h"

#include <algorithm>
#include <cstring>

#include "delta/patch_format.h"
#include "zipengine/common/crc32.h"
#include "zipengine/fast/fast_deflate.h"

namespace delta {

PatchWriter::PatchWriter(const uint8_t* old_data, uint64_t old_size, const uint8_t* new_data,
                         uint64_t new_size, std::vector<uint8_t>* patch)
    : old_(old_data), new_(new_data), patch_(patch), old_size_(old_size), new_size_(new_size) {
  patch_->assign(kPatchHeaderSize, 0);
}

PatchWriter::~PatchWriter() = default;

void PatchWriter::PutControl(int64_t seek, int64_t add, int64_t insert) {
  uint8_t entry[kMaxInstructionSize];
  size_t n = PutVarint(ZigZag(seek), entry);
  n += PutVarint(static_cast<uint64_t>(add), entry + n);
  n += PutVarint(static_cast<uint64_t>(insert), entry + n);
  control_.insert(control_.end(), entry, entry + n);
}

bool PatchWriter::Take(const Instruction& in) {
  if (in.add == 0 && in.insert == 0) return true;
  if (control_.size() + kMaxInstructionSize > kMaxBlockStreamSize) FlushBlock();
  int64_t seek = in.old_pos - old_cursor_;
  int64_t piece_add = 0;
  int64_t piece_insert = 0;
  // Ends the part of the instruction that fits this block.
  auto cut = [&] {
    PutControl(seek, piece_add, piece_insert);
    seek = 0;
    piece_add = 0;
    piece_insert = 0;
    FlushBlock();
  };

  // The add bytes as diff tokens: a run of zeros, then literals up to the
  // next long run of zeros.
  const uint8_t* o = old_ + in.old_pos;
  const uint8_t* n = new_ + in.new_pos;
  auto diff = [&](int64_t k) { return static_cast<uint8_t>(n[k] - o[k]); };
  for (int64_t i = 0; i < in.add;) {
    int64_t zeros = 0;
    while (i + zeros < in.add && diff(i + zeros) == 0) ++zeros;
    const int64_t literal_start = i + zeros;
    int64_t k = literal_start;
    int64_t run = 0;
    while (k < in.add && k - literal_start < kMaxLiteralRun) {
      if (diff(k) == 0) {
        if (++run == kMinZeroRun) {
          k -= kMinZeroRun - 1;
          break;
        }
      } else {
        run = 0;
      }
      ++k;
    }
    const int64_t literals = k - literal_start;
    uint8_t head[20];
    size_t head_size = PutVarint(static_cast<uint64_t>(zeros), head);
    head_size += PutVarint(static_cast<uint64_t>(literals), head + head_size);
    if (diff_.size() + head_size + literals > kMaxBlockStreamSize) {
      cut();
      continue;
    }
    diff_.insert(diff_.end(), head, head + head_size);
    for (int64_t j = literal_start; j < k; ++j) diff_.push_back(diff(j));
    piece_add += zeros + literals;
    i = k;
  }

  const uint8_t* extra = n + in.add;
  for (int64_t j = 0; j < in.insert;) {
    const int64_t room = static_cast<int64_t>(kMaxBlockStreamSize - extra_.size());
    if (room == 0) {
      cut();
      continue;
    }
    const int64_t take = std::min(room, in.insert - j);
    extra_.insert(extra_.end(), extra + j, extra + j + take);
    piece_insert += take;
    j += take;
  }
  PutControl(seek, piece_add, piece_insert);
  old_cursor_ = in.old_pos + in.add;
  return true;
}

void PatchWriter::StoreStream(const std::vector<uint8_t>& raw, uint32_t* stored_size) {
  if (raw.empty()) {
    *stored_size = 0;
    return;
  }
  // Made at the first block: a file whose streams fit one block flushes it
  // only in Finish, after the caller has let the suffix array go.
  if (!deflate_) deflate_.reset(new zipengine::FastGzipStream);
  deflate_->Begin();
  deflate_->Add(raw.data(), raw.size());
  deflate_->Finish();
  if (deflate_->output_size() < raw.size()) {
    stored_.insert(stored_.end(), deflate_->output(), deflate_->output() + deflate_->output_size());
    *stored_size = static_cast<uint32_t>(deflate_->output_size());
  } else {
    stored_.insert(stored_.end(), raw.begin(), raw.end());
    *stored_size = static_cast<uint32_t>(raw.size());
  }
  deflate_->ClearOutput();
}

void PatchWriter::FlushBlock() {
  if (control_.empty()) return;
  BlockHeader h;
  h.control_size = static_cast<uint32_t>(control_.size());
  h.diff_size = static_cast<uint32_t>(diff_.size());
  h.extra_size = static_cast<uint32_t>(extra_.size());
  stored_.clear();
  StoreStream(control_, &h.control_stored);
  StoreStream(diff_, &h.diff_stored);
  StoreStream(extra_, &h.extra_stored);
  uint8_t head[kBlockHeaderSize];
  EncodeBlockHeader(h, head);
  patch_->insert(patch_->end(), head, head + kBlockHeaderSize);
  patch_->insert(patch_->end(), stored_.begin(), stored_.end());
  ++block_count_;
  control_.clear();
  diff_.clear();
  extra_.clear();
}

void PatchWriter::Finish() {
  FlushBlock();
  PatchHeader h{};
  std::memcpy(h.magic, kPatchMagic, sizeof(h.magic));
  h.version = kPatchVersion;
  h.block_count = block_count_;
  h.old_size = old_size_;
  h.new_size = new_size_;
  h.new_crc32 = ~zipengine::UpdateCrc32(0xffffffffu, new_, static_cast<size_t>(new_size_));
  EncodeHeader(h, patch_->data());
}

}  // namespace delta

#include "update/stream_keyer.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "fileio/file_key.h"
#include "platform/platform.h"

namespace update {

namespace {

// Pieces of a megabyte keep the threads' meetings rare; four of them let
// the filling side run ahead while the helpers catch up.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kPieces = 4;

// What a consumer of the bytes does.
constexpr size_t kMd5 = 0;
constexpr size_t kSha256 = 1;
constexpr size_t kWrite = 2;

}  // namespace

StreamKeyer::StreamKeyer(bool aside, bool sha256, const Writer& write)
    : write_(write), aside_(aside) {
  Md5Init(&md5_);
  if (sha256) sha_.reset(new Sha256);
  // Two helpers: the MD5 on one, the SHA-256 and the writing (as long
  // together as the MD5 alone) on the other. A third thread would only
  // take turns with them on two processors, and each turn costs.
  jobs_.push_back({kMd5});
  std::vector<size_t> rest;
  if (sha_) rest.push_back(kSha256);
  if (write_) rest.push_back(kWrite);
  if (!rest.empty()) jobs_.push_back(rest);
  if (!aside_) return;
  ring_.resize(kPieces);
  for (Piece& piece : ring_) {
    piece.memory.reset(new unsigned char[kDecodeRoomBefore + kPieceSize + kDecodeRoomAfter]);
  }
  done_.assign(jobs_.size(), 0);
  try {
    for (size_t which = 0; which < jobs_.size(); ++which) {
      helpers_.emplace_back(&StreamKeyer::Consume, this, which);
    }
  } catch (const std::system_error&) {
    // No thread to be had: the digests are made here instead.
    StopHelpers();
    aside_ = false;
  }
}

StreamKeyer::~StreamKeyer() { StopHelpers(); }

void StreamKeyer::StopHelpers() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ended_ = true;
  }
  filled_.notify_all();
  for (std::thread& helper : helpers_) {
    if (helper.joinable()) helper.join();
  }
  helpers_.clear();
}

void StreamKeyer::Update(size_t job, const unsigned char* data, size_t size) {
  switch (job) {
    case kMd5:
      Md5Update(&md5_, data, size);
      break;
    case kSha256:
      sha_->Update(data, size);
      break;
    case kWrite:
      // After a failure nothing more is written; the transfer fails.
      if (!write_failed_ && !write_(data, size)) write_failed_ = true;
      break;
  }
}

bool StreamKeyer::Add(const void* data, size_t size) {
  size_ += size;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (!aside_) {
    for (const std::vector<size_t>& jobs : jobs_) {
      for (size_t job : jobs) Update(job, bytes, size);
    }
    return !write_failed_;
  }
  if (bytes == ring_[filled_pieces_ % kPieces].bytes() + filling_ &&
      size <= kPieceSize + kDecodeRoomAfter - filling_) {
    // Decoded where they belong: no copy.
    filling_ += size;
    in_place_ = true;
    if (filling_ >= kPieceSize) Handoff();
    return !write_failed_;
  }
  in_place_ = false;
  while (size > 0) {
    Piece& piece = ring_[filled_pieces_ % kPieces];
    size_t taken = std::min(size, kPieceSize - filling_);
    std::memcpy(piece.bytes() + filling_, bytes, taken);
    filling_ += taken;
    bytes += taken;
    size -= taken;
    if (filling_ == kPieceSize) Handoff();
  }
  return !write_failed_;
}

unsigned char* StreamKeyer::Room(size_t* size) {
  *size = 0;
  if (!aside_ || (filling_ > 0 && !in_place_)) return nullptr;
  *size = kPieceSize - filling_;
  return ring_[filled_pieces_ % kPieces].bytes() + filling_;
}

bool StreamKeyer::Drain() {
  if (aside_ && write_) {
    if (filling_ > 0) Handoff();
    size_t writer = jobs_.size() - 1;  // the writing is the last job
    std::unique_lock<std::mutex> hold(mutex_);
    freed_.wait(hold, [this, writer] { return done_[writer] == filled_pieces_; });
  }
  return !write_failed_;
}

void StreamKeyer::Handoff() {
  std::unique_lock<std::mutex> hold(mutex_);
  ring_[filled_pieces_ % kPieces].size = filling_;
  ++filled_pieces_;
  filling_ = 0;
  filled_.notify_all();
  // The next piece is free once every helper is done with it.
  freed_.wait(hold, [this] {
    return *std::min_element(done_.begin(), done_.end()) + kPieces > filled_pieces_;
  });
}

void StreamKeyer::Consume(size_t which) {
  // On two processors the decoding side is the one the transfer waits
  // for: where a helper shares its processor, the decoding goes first.
  plat::LowerThreadPriority();
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    filled_.wait(hold, [this, which] { return done_[which] < filled_pieces_ || ended_; });
    if (done_[which] == filled_pieces_) return;
    const Piece& piece = ring_[done_[which] % kPieces];
    hold.unlock();
    for (size_t job : jobs_[which]) Update(job, piece.bytes(), piece.size);
    hold.lock();
    ++done_[which];
    // Only the filling side waits for a piece to be done.
    freed_.notify_one();
  }
}

std::string StreamKeyer::Finish() {
  if (aside_) {
    if (filling_ > 0) Handoff();
    // The helpers finish every piece handed off before they stop.
    StopHelpers();
  }
  unsigned char digest[16];
  Md5Final(&md5_, digest);
  if (sha_ && sha_->ok()) {
    unsigned char sha[kSha256Size];
    sha_->Final(sha);
    sha256_hex_ = Sha256Hex(sha);
  }
  return FileKeyOfDigest(digest);
}

}  // namespace update

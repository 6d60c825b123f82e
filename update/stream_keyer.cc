#include "update/stream_keyer.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "fileio/file_key.h"

namespace update {

namespace {

// Pieces of a megabyte keep the threads' meetings rare; four of them let
// the filling side run ahead while the helpers catch up.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kPieces = 4;

// The digests by number: the key first.
constexpr size_t kMd5 = 0;
constexpr size_t kSha256 = 1;

}  // namespace

StreamKeyer::StreamKeyer(bool aside, bool sha256) : aside_(aside) {
  Md5Init(&md5_);
  if (sha256) sha_.reset(new Sha256);
  if (!aside_) return;
  ring_.resize(kPieces);
  for (Piece& piece : ring_) piece.bytes.reset(new unsigned char[kPieceSize]);
  size_t digests = sha_ ? 2 : 1;
  done_.assign(digests, 0);
  try {
    for (size_t which = 0; which < digests; ++which) {
      helpers_.emplace_back(&StreamKeyer::Digest, this, which);
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
  changed_.notify_all();
  for (std::thread& helper : helpers_) {
    if (helper.joinable()) helper.join();
  }
  helpers_.clear();
}

void StreamKeyer::Update(size_t which, const unsigned char* data, size_t size) {
  if (which == kMd5) {
    Md5Update(&md5_, data, size);
  } else if (which == kSha256) {
    sha_->Update(data, size);
  }
}

void StreamKeyer::Add(const void* data, size_t size) {
  size_ += size;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  if (!aside_) {
    Update(kMd5, bytes, size);
    if (sha_) Update(kSha256, bytes, size);
    return;
  }
  while (size > 0) {
    Piece& piece = ring_[filled_pieces_ % kPieces];
    size_t taken = std::min(size, kPieceSize - filling_);
    std::memcpy(piece.bytes.get() + filling_, bytes, taken);
    filling_ += taken;
    bytes += taken;
    size -= taken;
    if (filling_ == kPieceSize) Handoff();
  }
}

void StreamKeyer::Handoff() {
  std::unique_lock<std::mutex> hold(mutex_);
  ring_[filled_pieces_ % kPieces].size = filling_;
  ++filled_pieces_;
  filling_ = 0;
  changed_.notify_all();
  // The next piece is free once every helper is done with it.
  changed_.wait(hold, [this] {
    return *std::min_element(done_.begin(), done_.end()) + kPieces > filled_pieces_;
  });
}

void StreamKeyer::Digest(size_t which) {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this, which] { return done_[which] < filled_pieces_ || ended_; });
    if (done_[which] == filled_pieces_) return;
    const Piece& piece = ring_[done_[which] % kPieces];
    hold.unlock();
    Update(which, piece.bytes.get(), piece.size);
    hold.lock();
    ++done_[which];
    changed_.notify_all();
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

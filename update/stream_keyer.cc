#include "update/stream_keyer.h"

#include <cstring>
#include <system_error>
#include <utility>

#include "fileio/file_key.h"

namespace update {

namespace {

// Pieces of a megabyte keep the two threads' meetings rare; four of them
// let the filling side run ahead while the helper catches up.
constexpr size_t kPieceSize = 1 << 20;
constexpr size_t kPieces = 4;

}  // namespace

StreamKeyer::StreamKeyer(bool aside) : aside_(aside) {
  Md5Init(&state_);
  if (!aside_) return;
  for (size_t i = 1; i < kPieces; ++i) free_.emplace_back(new unsigned char[kPieceSize]);
  filling_.reset(new unsigned char[kPieceSize]);
  try {
    helper_ = std::thread(&StreamKeyer::Hash, this);
  } catch (const std::system_error&) {
    aside_ = false;  // no thread to be had: the key is made here instead
  }
}

StreamKeyer::~StreamKeyer() {
  if (!helper_.joinable()) return;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

void StreamKeyer::Add(const void* data, size_t size) {
  if (!aside_) {
    Md5Update(&state_, data, size);
    return;
  }
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    size_t room = kPieceSize - filled_;
    size_t taken = size < room ? size : room;
    std::memcpy(filling_.get() + filled_, bytes, taken);
    filled_ += taken;
    bytes += taken;
    size -= taken;
    if (filled_ == kPieceSize) Handoff();
  }
}

void StreamKeyer::Handoff() {
  std::unique_lock<std::mutex> hold(mutex_);
  full_.emplace_back(std::move(filling_), filled_);
  changed_.notify_all();
  changed_.wait(hold, [this] { return !free_.empty(); });
  filling_ = std::move(free_.back());
  free_.pop_back();
  filled_ = 0;
}

void StreamKeyer::Hash() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this] { return !full_.empty() || ended_; });
    if (full_.empty()) return;
    std::pair<std::unique_ptr<unsigned char[]>, size_t> piece = std::move(full_.front());
    full_.erase(full_.begin());
    hold.unlock();
    Md5Update(&state_, piece.first.get(), piece.second);
    hold.lock();
    free_.push_back(std::move(piece.first));
    changed_.notify_all();
  }
}

std::string StreamKeyer::Finish() {
  if (aside_) {
    if (filled_ > 0) Handoff();
    {
      std::lock_guard<std::mutex> hold(mutex_);
      ended_ = true;
    }
    changed_.notify_all();
    helper_.join();
  }
  unsigned char digest[16];
  Md5Final(&state_, digest);
  return FileKeyOfDigest(digest);
}

}  // namespace update

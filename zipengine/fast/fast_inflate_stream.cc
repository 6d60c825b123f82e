#include "zipengine/fast/fast_inflate_stream.h"

#include <algorithm>
#include <cstring>

#include "zipengine/fast/fast_inflate_core.h"

namespace zipengine {

using fast_inflate::BitInput;
using fast_inflate::CodesEnd;
using fast_inflate::DecodeCodes;
using fast_inflate::kOutputBufferSize;
using fast_inflate::kOutputSpare;
using fast_inflate::kPieceSize;
using fast_inflate::kWindowSize;
using fast_inflate::ReadDynamicTables;
using fast_inflate::Shared;
using fast_inflate::Tables;

namespace {

// Of new input, what goes after the bytes the last call left before the
// decode goes on in the new input where it lies: more than a block header
// takes at most (about 570 bytes), so that the decode gets past what was
// left.
constexpr size_t kJoinedInput = 1024;

}  // namespace

static_assert(DeflateStreamDecoder::kRoomBefore == kWindowSize, "a lent place holds the window before it");
static_assert(DeflateStreamDecoder::kRoomAfter >= kOutputSpare, "and what a round writes past its limit");

DeflateStreamDecoder::DeflateStreamDecoder() : tables_(new Tables), window_(new unsigned char[kOutputBufferSize]) {
  history_ = out_ = window_.get();
  limit_ = history_ + kWindowSize + kPieceSize;
}

DeflateStreamDecoder::~DeflateStreamDecoder() = default;

void DeflateStreamDecoder::Start(const unsigned char* window, size_t size, int bits, int byte) {
  size_t kept = std::min(size, kWindowSize);
  if (kept > 0) std::memcpy(window_.get(), window + size - kept, kept);
  history_ = window_.get();
  out_ = history_ + kept;
  limit_ = history_ + kWindowSize + kPieceSize;
  own_ = true;
  handed_ = 0;
  pending_.clear();
  used_ = 0;
  consumed_ = 0;
  count_ = static_cast<unsigned>(bits & 7);
  register_ = count_ == 0 ? 0 : static_cast<uint64_t>((byte & 0xff) >> (8 - count_));
  state_ = State::kBlockStart;
  final_ = false;
  stored_left_ = 0;
  boundary_ = Boundary();
  boundary_.bits = static_cast<int>(count_);
  boundary_.byte = count_ == 0 ? 0 : static_cast<int>(register_ << (8 - count_));
}

void DeflateStreamDecoder::Place(Sink* sink) {
  // The window goes along to the new place: a distance may reach back
  // into the output before it.
  size_t size = 0;
  unsigned char* room = sink->Room(&size);
  if (room != nullptr && size > 0) {
    if (room != out_) {
      size_t kept = std::min(static_cast<size_t>(out_ - history_), kWindowSize);
      std::memmove(room - kept, out_ - kept, kept);
      history_ = room - kept;
      out_ = room;
    }
    limit_ = room + size;
    own_ = false;
    return;
  }
  unsigned char* const start = window_.get();
  if (!own_ || out_ >= start + kWindowSize + kPieceSize) {
    size_t kept = std::min(static_cast<size_t>(out_ - history_), kWindowSize);
    std::memmove(start, out_ - kept, kept);
    history_ = start;
    out_ = start + kept;
    own_ = true;
  }
  limit_ = start + kWindowSize + kPieceSize;
}

DeflateStreamDecoder::Status DeflateStreamDecoder::Feed(const unsigned char* data, size_t size, Sink* sink, bool last) {
  switch (state_) {
    case State::kEnd:
      return Status::kEnd;
    case State::kFailed:
      return Status::kBad;
    default:
      break;
  }
  if (used_ > 0) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used_));
    consumed_ += used_;
    used_ = 0;
  }
  Status status = Status::kMore;
  size_t used = 0;
  if (!pending_.empty() || size == 0) {
    // What the last call left (a few bytes, or a block header not yet
    // whole) goes before the first of the new input; once the decode is
    // past it, the rest is decoded where it lies rather than copied.
    size_t left = pending_.size();
    size_t joined = std::min(size, kJoinedInput);
    pending_.insert(pending_.end(), data, data + joined);
    bool all = joined == size;
    status = Decode(pending_.data(), pending_.size(), sink, last && all, &used);
    if (status == Status::kMore && !all && used >= left) {
      consumed_ += used;
      pending_.clear();
      data += used - left;
      size -= used - left;
    } else {
      if (status == Status::kBad || status == Status::kStopped) return status;
      // A long block header not yet whole, or the input after the stream's
      // end (rest()): the new input is kept whole.
      if (!all) pending_.insert(pending_.end(), data + joined, data + size);
      if (status == Status::kMore && !all) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        consumed_ += used;
        status = Decode(pending_.data(), pending_.size(), sink, last, &used);
        if (status == Status::kBad || status == Status::kStopped) return status;
      }
      used_ = used;
      return status;
    }
  }
  status = Decode(data, size, sink, last, &used);
  if (status == Status::kBad || status == Status::kStopped) return status;
  // The few bytes the decode could not use yet (or those after the
  // stream's end) wait in pending_.
  pending_.assign(data + used, data + size);
  consumed_ += used;
  used_ = 0;
  return status;
}

DeflateStreamDecoder::Status DeflateStreamDecoder::Decode(const unsigned char* const base, size_t size, Sink* sink,
                                                          bool last, size_t* used) {
  Tables& t = *tables_;
  BitInput in;
  in.next = base;
  in.end = base + size;
  in.bits = register_;
  in.count = count_;
  // Short of input, the decode waits between two codes for more; with the
  // last input it reads zero bytes past the end, as the whole-member
  // decoder does, and fails once it has used them.
  in.streaming = !last;
  Place(sink);
  unsigned char* out = out_;
  unsigned char* handed = out;  // output before this has gone to sink
  bool refused = false;
  auto hand_on = [&]() {
    size_t size = static_cast<size_t>(out - handed);
    if (size > 0 && !sink->Take(handed, size)) refused = true;
    handed_ += size;
    handed = out;
    return !refused;
  };
  auto slide = [&]() {
    if (!hand_on()) return false;
    out_ = out;
    Place(sink);
    out = out_;
    handed = out;
    return true;
  };

  Status status = Status::kMore;
  for (bool going = true; going;) {
    switch (state_) {
      case State::kBlockStart: {
        // A place to go on from: the output before it is all the state.
        uint64_t at = consumed_ + static_cast<uint64_t>(in.next - base);
        unsigned partial = in.count & 7;
        boundary_.input = at - (in.count >> 3);
        boundary_.output = handed_ + static_cast<uint64_t>(out - handed);
        boundary_.bits = static_cast<int>(partial);
        boundary_.byte = partial == 0 ? 0 : static_cast<int>((in.bits & ((1u << partial) - 1)) << (8 - partial));
        // The header is read whole or not at all: short of input, the
        // register goes back to the block's start.
        const BitInput before = in;
        bool read = in.Refill();
        if (read) {
          final_ = in.Peek(1) != 0;
          uint32_t type = in.Peek(3) >> 1;
          in.Drop(3);
          if (type == 0) {
            // Stored: LEN and its complement on the next byte boundary.
            read = in.AlignToByte() && in.end - in.next >= 4;
            if (read) {
              size_t length = in.next[0] | size_t{in.next[1]} << 8;
              size_t complement = in.next[2] | size_t{in.next[3]} << 8;
              if (length != (~complement & 0xffff)) {
                status = Status::kBad;
                going = false;
                break;
              }
              in.next += 4;
              stored_left_ = length;
              state_ = State::kStored;
            }
          } else if (type == 3) {
            status = Status::kBad;
            going = false;
            break;
          } else if (type == 1) {
            fixed_ = true;
            state_ = State::kCodes;
          } else if (ReadDynamicTables(&in, &t)) {
            fixed_ = false;
            state_ = State::kCodes;
          } else if (in.short_input) {
            read = false;
          } else {
            status = Status::kBad;
            going = false;
            break;
          }
        }
        if (!read) {
          in = before;
          going = false;
          if (last) status = Status::kBad;
        }
        break;
      }
      case State::kStored: {
        while (stored_left_ > 0 && in.next < in.end) {
          if (out >= limit_ && !slide()) break;
          size_t take =
              std::min({stored_left_, static_cast<size_t>(in.end - in.next), static_cast<size_t>(limit_ - out)});
          std::memcpy(out, in.next, take);
          out += take;
          in.next += take;
          stored_left_ -= take;
        }
        if (refused) {
          status = Status::kStopped;
          going = false;
        } else if (stored_left_ > 0) {
          going = false;
        } else {
          state_ = final_ ? State::kEnd : State::kBlockStart;
        }
        break;
      }
      case State::kCodes: {
        const uint32_t* lit = fixed_ ? Shared().fixed_lit : t.lit;
        const uint32_t* dist = fixed_ ? Shared().fixed_dist : t.dist;
        CodesEnd end = DecodeCodes(&in, lit, dist, history_, &out, limit_);
        if (end == CodesEnd::kFull) {
          if (!slide()) {
            status = Status::kStopped;
            going = false;
          }
        } else if (end == CodesEnd::kBlockEnd) {
          state_ = final_ ? State::kEnd : State::kBlockStart;
        } else if (end == CodesEnd::kStopped && in.short_input) {
          in.short_input = false;
          going = false;
        } else {
          status = Status::kBad;
          going = false;
        }
        break;
      }
      case State::kEnd:
        // The stream ends on its byte boundary; the bytes still in the
        // register are what follows it.
        status = in.AlignToByte() ? Status::kEnd : Status::kBad;
        going = false;
        break;
      case State::kFailed:
        status = Status::kBad;
        going = false;
        break;
    }
  }
  if (last && status == Status::kMore) status = Status::kBad;
  if (status == Status::kMore || status == Status::kEnd) {
    if (!hand_on()) status = Status::kStopped;
  }
  if (status == Status::kBad || status == Status::kStopped) {
    state_ = State::kFailed;
    pending_.clear();
    used_ = 0;
    return status;
  }
  // Whole bytes read ahead into the register go back to the input, so that
  // the input not yet used begins on a whole byte: only the bits of a byte
  // begun stay in the register.
  *used = static_cast<size_t>(in.next - base) - (in.count >> 3);
  count_ = in.count & 7;
  register_ = in.bits & ((uint64_t{1} << count_) - 1);
  out_ = out;
  return status;
}

}  // namespace zipengine

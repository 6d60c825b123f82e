#include "fileio/gzip_decompress.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "log/logger.h"
#include "platform/platform.h"
#include "util/scoped_file.h"

namespace {

// gzip members carry their header and trailer; inflate checks both.
constexpr int kGzipWindowBits = 15 + 16;

using FilePtr = util::ScopedFile;

bool StartsWithGzipMagic(const unsigned char* data, size_t length) {
  return length >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Decoded pieces this large keep the calls to the sink few, which matters
// where the sink keys and writes what it is given.
constexpr size_t kDecodeOutputSize = 1 << 18;

// zlib counts its input in 32 bits: larger pieces go in slices.
constexpr size_t kMostInflateInput = size_t{1} << 30;

// A member's deflate data without its gzip header and trailer, as a decoder
// set to a point inside a member takes it up.
constexpr int kRawWindowBits = -15;
constexpr size_t kWindowSize = 32768;
constexpr size_t kTrailerSize = 8;

}  // namespace

struct GzipStreamDecoder::Inflater {
  explicit Inflater(int windowBits) : output(new unsigned char[kDecodeOutputSize]) {
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, windowBits) != Z_OK) throw std::bad_alloc();
  }
  ~Inflater() { inflateEnd(&stream); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  z_stream stream;
  std::unique_ptr<unsigned char[]> output;
};

GzipStreamDecoder::GzipStreamDecoder(const DecompressSink& sink, uint64_t maxOutput)
    : sink_(sink), limit_(maxOutput) {}

GzipStreamDecoder::~GzipStreamDecoder() = default;

DecompressStatus GzipStreamDecoder::Fail(DecompressStatus status) {
  failed_ = status;
  return status;
}

DecompressStatus GzipStreamDecoder::Emit(const unsigned char* data, size_t length) {
  if (length == 0) return DecompressStatus::kOk;
  if (length > limit_ - written_) return Fail(DecompressStatus::kTooLong);
  written_ += length;
  return sink_(data, length) ? DecompressStatus::kOk : Fail(DecompressStatus::kWriteError);
}

void GzipStreamDecoder::MarkPoint(Mode mode, uint64_t input, int bits, int byte) {
  point_.input = input;
  point_.output = written_;
  point_.mode = static_cast<int>(mode);
  point_.bits = bits;
  point_.byte = byte;
}

DecompressStatus GzipStreamDecoder::Inflate(const unsigned char* data, size_t size, uint64_t base,
                                            size_t* used) {
  z_stream* z = &inflater_->stream;
  size_t slice = size < kMostInflateInput ? size : kMostInflateInput;
  z->next_in = const_cast<unsigned char*>(data);
  z->avail_in = static_cast<uInt>(slice);
  for (;;) {
    z->next_out = inflater_->output.get();
    z->avail_out = static_cast<uInt>(kDecodeOutputSize);
    const unsigned char* taken = z->next_in;
    // Z_BLOCK returns at each block's end, where a resume point lies.
    int result = inflate(z, Z_BLOCK);
    KeepLastInput(taken, static_cast<size_t>(z->next_in - taken));
    DecompressStatus written = Emit(inflater_->output.get(), kDecodeOutputSize - z->avail_out);
    if (written != DecompressStatus::kOk) return written;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_DATA_ERROR && z->msg != nullptr &&
        std::strcmp(z->msg, "incorrect length check") == 0) {
      return Fail(LengthMismatch());
    }
    uint64_t at = base + static_cast<uint64_t>(z->next_in - data);
    if (result == Z_STREAM_END) {
      // One member is complete and checked. Another may follow, as in a
      // file made by appending gzip files; anything else after it is
      // ignored. A member entered at a resume point has its trailer left.
      held_size_ = 0;
      if (raw_) {
        mode_ = Mode::kTrailer;
        trailer_left_ = kTrailerSize;
      } else {
        mode_ = Mode::kBetween;
        MarkPoint(Mode::kBetween, at, 0, 0);
      }
      break;
    }
    if (result == Z_BUF_ERROR) {
      // No progress with output room to spare: only more input can help.
      if (z->avail_in != 0) return Fail(DecompressStatus::kCorrupt);
      break;
    }
    if (result != Z_OK) return Fail(DecompressStatus::kCorrupt);
    // After a block that is not the last, or after the header: the bits of
    // the last byte taken that belong to what follows go with the point.
    if ((z->data_type & 128) != 0 && (z->data_type & 64) == 0) {
      int bits = z->data_type & 7;
      MarkPoint(Mode::kInflate, at, bits, bits != 0 ? last_in_[3] : 0);
    }
    // A full output buffer may leave more to give out for the same input.
    if (z->avail_in == 0 && z->avail_out != 0) break;
  }
  *used = slice - z->avail_in;
  return DecompressStatus::kOk;
}

void GzipStreamDecoder::KeepLastInput(const unsigned char* data, size_t size) {
  if (size >= sizeof(last_in_)) {
    std::memcpy(last_in_, data + size - sizeof(last_in_), sizeof(last_in_));
    return;
  }
  std::memmove(last_in_, last_in_ + size, sizeof(last_in_) - size);
  std::memcpy(last_in_ + sizeof(last_in_) - size, data, size);
}

// A member that decoded whole and matched its CRC but not its trailer's
// length: one that goes on past that length is a forged file made to fill
// a disk (a gzip bomb), and is told apart from mere damage.
DecompressStatus GzipStreamDecoder::LengthMismatch() {
  uint64_t claimed =
      static_cast<uint64_t>(last_in_[0]) | (static_cast<uint64_t>(last_in_[1]) << 8) |
      (static_cast<uint64_t>(last_in_[2]) << 16) | (static_cast<uint64_t>(last_in_[3]) << 24);
  return written_ - member_start_ > claimed ? DecompressStatus::kBeyondTrailer
                                            : DecompressStatus::kCorrupt;
}

DecompressStatus GzipStreamDecoder::Feed(const void* data, size_t size) {
  if (failed_ != DecompressStatus::kOk) return failed_;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  while (size > 0) {
    switch (mode_) {
      case Mode::kDone:
        fed_ += size;
        MarkPoint(Mode::kDone, fed_, 0, 0);
        return DecompressStatus::kOk;
      case Mode::kPlain: {
        DecompressStatus written = Emit(in, size);
        fed_ += size;
        if (written == DecompressStatus::kOk) MarkPoint(Mode::kPlain, fed_, 0, 0);
        return written;
      }
      case Mode::kTrailer: {
        size_t skipped = size < trailer_left_ ? size : trailer_left_;
        trailer_left_ -= skipped;
        fed_ += skipped;
        in += skipped;
        size -= skipped;
        if (trailer_left_ == 0) {
          mode_ = Mode::kBetween;
          raw_ = false;
          MarkPoint(Mode::kBetween, fed_, 0, 0);
        }
        continue;
      }
      case Mode::kStart:
      case Mode::kBetween: {
        // Two bytes tell a gzip member from anything else.
        while (held_size_ < 2 && size > 0) {
          held_[held_size_++] = *in++;
          --size;
          ++fed_;
        }
        if (held_size_ < 2) return DecompressStatus::kOk;
        held_size_ = 0;
        if (!StartsWithGzipMagic(held_, 2)) {
          if (mode_ == Mode::kBetween) {
            mode_ = Mode::kDone;
            fed_ += size;
            MarkPoint(Mode::kDone, fed_, 0, 0);
            return DecompressStatus::kOk;
          }
          mode_ = Mode::kPlain;
          DecompressStatus written = Emit(held_, 2);
          if (written != DecompressStatus::kOk) return written;
          MarkPoint(Mode::kPlain, fed_, 0, 0);
          continue;
        }
        if (!inflater_) {
          inflater_.reset(new Inflater(kGzipWindowBits));
        } else if (inflateReset2(&inflater_->stream, kGzipWindowBits) != Z_OK) {
          return Fail(DecompressStatus::kCorrupt);
        }
        mode_ = Mode::kInflate;
        raw_ = false;
        member_start_ = written_;
        size_t used = 0;
        DecompressStatus status = Inflate(held_, 2, fed_ - 2, &used);
        if (status != DecompressStatus::kOk) return status;
        continue;
      }
      case Mode::kInflate: {
        size_t used = 0;
        DecompressStatus status = Inflate(in, size, fed_, &used);
        if (status != DecompressStatus::kOk) return status;
        fed_ += used;
        in += used;
        size -= used;
        continue;
      }
    }
  }
  return DecompressStatus::kOk;
}

DecompressStatus GzipStreamDecoder::Finish() {
  if (failed_ != DecompressStatus::kOk) return failed_;
  switch (mode_) {
    case Mode::kStart:
      // Fewer than two bytes: no gzip file, so taken as they are.
      mode_ = Mode::kPlain;
      return Emit(held_, held_size_);
    case Mode::kInflate:
    case Mode::kTrailer:
      // The input ended inside a member: a cut-off download.
      return Fail(DecompressStatus::kCorrupt);
    case Mode::kPlain:
    case Mode::kBetween:
    case Mode::kDone:
      break;
  }
  return DecompressStatus::kOk;
}

bool GzipStreamDecoder::ResumeAt(const GzipResumePoint& point, const unsigned char* window,
                                 size_t size) {
  if (fed_ != 0 || written_ != 0 || held_size_ != 0 || mode_ != Mode::kStart) return false;
  if (point.mode < static_cast<int>(Mode::kStart) ||
      point.mode > static_cast<int>(Mode::kTrailer)) {
    return false;
  }
  Mode mode = static_cast<Mode>(point.mode);
  switch (mode) {
    case Mode::kStart:
      return point.input == 0 && point.output == 0;
    case Mode::kPlain:
    case Mode::kBetween:
    case Mode::kDone:
      break;
    case Mode::kInflate: {
      if (point.bits < 0 || point.bits > 7 || point.byte < 0 || point.byte > 255) return false;
      inflater_.reset(new Inflater(kRawWindowBits));
      z_stream* z = &inflater_->stream;
      if (point.bits != 0 && inflatePrime(z, point.bits, point.byte >> (8 - point.bits)) != Z_OK) {
        return false;
      }
      size_t kept = size < kWindowSize ? size : kWindowSize;
      if (kept > 0 &&
          inflateSetDictionary(z, window + size - kept, static_cast<uInt>(kept)) != Z_OK) {
        return false;
      }
      raw_ = true;
      member_start_ = point.output;
      break;
    }
    case Mode::kTrailer:
      return false;
  }
  if (point.output > limit_) return false;
  mode_ = mode;
  fed_ = point.input;
  written_ = point.output;
  point_ = point;
  return true;
}

bool GzipStreamDecoder::done() const { return mode_ == Mode::kDone; }

DecompressStatus DecompressStreamTo(FILE* in, const DecompressSink& sink, uint64_t maxOutput) {
  GzipStreamDecoder decoder(sink, maxOutput);
  std::unique_ptr<unsigned char[]> input(new unsigned char[kGzipChunkSize]);
  for (;;) {
    size_t got = std::fread(input.get(), 1, kGzipChunkSize, in);
    if (got == 0) return std::ferror(in) ? DecompressStatus::kReadError : decoder.Finish();
    DecompressStatus status = decoder.Feed(input.get(), got);
    if (status != DecompressStatus::kOk || decoder.done()) return status;
  }
}

DecompressStatus DecompressStream(FILE* in, FILE* out) {
  DecompressSink sink = [out](const unsigned char* data, size_t length) {
    return std::fwrite(data, 1, length, out) == length;
  };
  return DecompressStreamTo(in, sink, UINT64_MAX);
}

namespace {

// One error line for a failed decompression; true for success.
bool ReportDecompressStatus(DecompressStatus status, const char* src, const char* dst) {
  switch (status) {
    case DecompressStatus::kOk:
      return true;
    case DecompressStatus::kCorrupt:
    case DecompressStatus::kBeyondTrailer:
      LogError() << "Decompress File [" << src << "] Fail! The data is damaged or incomplete.";
      break;
    case DecompressStatus::kReadError:
      LogError() << "Read Src File [" << src << "] Fail!";
      break;
    case DecompressStatus::kWriteError:
    case DecompressStatus::kTooLong:
      LogError() << "Write Dst File [" << dst << "] Fail!";
      break;
  }
  return false;
}

}  // namespace

bool DecompressOpenFile(FILE* in, const char* src, FILE* out, const char* dst) {
  DecompressStatus status = DecompressStream(in, out);
  if (status == DecompressStatus::kOk && std::fflush(out) != 0)
    status = DecompressStatus::kWriteError;
  return ReportDecompressStatus(status, src, dst);
}

DecompressStatus DecompressFileBounded(const char* src, const char* dst, uint64_t maxOutput) {
  FilePtr in(plat::OpenFile(src, "rb"));
  if (!in) return DecompressStatus::kReadError;
  FilePtr out(plat::OpenFile(dst, "wb"));
  if (!out) return DecompressStatus::kWriteError;
  FILE* file = out.get();
  DecompressSink sink = [file](const unsigned char* data, size_t length) {
    return std::fwrite(data, 1, length, file) == length;
  };
  DecompressStatus status = DecompressStreamTo(in.get(), sink, maxOutput);
  bool closed = std::fclose(out.release()) == 0;
  if (status == DecompressStatus::kOk && !closed) status = DecompressStatus::kWriteError;
  return status;
}

bool IOUtil_DecompressFile(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) return false;
  FilePtr in(plat::OpenFile(src, "rb"));
  if (!in) {
    LogError() << "Open Src File [" << src << "] Fail!";
    return false;
  }
  FILE* out = plat::OpenFile(dst, "wb");
  if (out == nullptr) {
    LogError() << "Open Dst File [" << dst << "] Fail!";
    return false;
  }
  DecompressStatus status = DecompressStatus::kWriteError;
  try {
    status = DecompressStream(in.get(), out);
  } catch (...) {
    std::fclose(out);
    throw;
  }
  bool closed = std::fclose(out) == 0;
  if (status == DecompressStatus::kOk && !closed) status = DecompressStatus::kWriteError;
  return ReportDecompressStatus(status, src, dst);
}

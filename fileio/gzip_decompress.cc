#include "fileio/gzip_decompress.h"

#include <zlib.h>

#include <cstring>
#include <memory>
#include <new>

#include "log/logger.h"
#include "platform/platform.h"

namespace {

// gzip members carry their header and trailer; inflate checks both.
constexpr int kGzipWindowBits = 15 + 16;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool StartsWithGzipMagic(const unsigned char* data, size_t length) {
  return length >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// Decoded pieces this large keep the calls to the sink few, which matters
// where the sink keys and writes what it is given.
constexpr size_t kDecodeOutputSize = 1 << 18;

// zlib counts its input in 32 bits: larger pieces go in slices.
constexpr size_t kMostInflateInput = size_t{1} << 30;

}  // namespace

struct GzipStreamDecoder::Inflater {
  Inflater() : output(new unsigned char[kDecodeOutputSize]) {
    std::memset(&stream, 0, sizeof(stream));
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) throw std::bad_alloc();
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

DecompressStatus GzipStreamDecoder::Inflate(const unsigned char* data, size_t size, size_t* used) {
  z_stream* z = &inflater_->stream;
  size_t slice = size < kMostInflateInput ? size : kMostInflateInput;
  z->next_in = const_cast<unsigned char*>(data);
  z->avail_in = static_cast<uInt>(slice);
  for (;;) {
    z->next_out = inflater_->output.get();
    z->avail_out = static_cast<uInt>(kDecodeOutputSize);
    const unsigned char* taken = z->next_in;
    int result = inflate(z, Z_NO_FLUSH);
    KeepLastInput(taken, static_cast<size_t>(z->next_in - taken));
    DecompressStatus written = Emit(inflater_->output.get(), kDecodeOutputSize - z->avail_out);
    if (written != DecompressStatus::kOk) return written;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_DATA_ERROR && z->msg != nullptr &&
        std::strcmp(z->msg, "incorrect length check") == 0) {
      return Fail(LengthMismatch());
    }
    if (result == Z_STREAM_END) {
      // One member is complete and checked. Another may follow, as in a
      // file made by appending gzip files; anything else after it is
      // ignored.
      mode_ = Mode::kBetween;
      held_size_ = 0;
      break;
    }
    if (result == Z_BUF_ERROR) {
      // No progress with output room to spare: only more input can help.
      if (z->avail_in != 0) return Fail(DecompressStatus::kCorrupt);
      break;
    }
    if (result != Z_OK) return Fail(DecompressStatus::kCorrupt);
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
  uint64_t claimed = static_cast<uint64_t>(last_in_[0]) | (static_cast<uint64_t>(last_in_[1]) << 8) |
                     (static_cast<uint64_t>(last_in_[2]) << 16) |
                     (static_cast<uint64_t>(last_in_[3]) << 24);
  return written_ - member_start_ > claimed ? DecompressStatus::kBeyondTrailer
                                                  : DecompressStatus::kCorrupt;
}

DecompressStatus GzipStreamDecoder::Feed(const void* data, size_t size) {
  if (failed_ != DecompressStatus::kOk) return failed_;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  while (size > 0) {
    switch (mode_) {
      case Mode::kDone:
        return DecompressStatus::kOk;
      case Mode::kPlain:
        return Emit(in, size);
      case Mode::kStart:
      case Mode::kBetween: {
        // Two bytes tell a gzip member from anything else.
        while (held_size_ < 2 && size > 0) {
          held_[held_size_++] = *in++;
          --size;
        }
        if (held_size_ < 2) return DecompressStatus::kOk;
        held_size_ = 0;
        if (!StartsWithGzipMagic(held_, 2)) {
          if (mode_ == Mode::kBetween) {
            mode_ = Mode::kDone;
            return DecompressStatus::kOk;
          }
          mode_ = Mode::kPlain;
          DecompressStatus written = Emit(held_, 2);
          if (written != DecompressStatus::kOk) return written;
          continue;
        }
        if (!inflater_) {
          inflater_.reset(new Inflater);
        } else if (inflateReset(&inflater_->stream) != Z_OK) {
          return Fail(DecompressStatus::kCorrupt);
        }
        mode_ = Mode::kInflate;
        member_start_ = written_;
        size_t used = 0;
        DecompressStatus status = Inflate(held_, 2, &used);
        if (status != DecompressStatus::kOk) return status;
        continue;
      }
      case Mode::kInflate: {
        size_t used = 0;
        DecompressStatus status = Inflate(in, size, &used);
        if (status != DecompressStatus::kOk) return status;
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
      // The input ended inside a member: a cut-off download.
      return Fail(DecompressStatus::kCorrupt);
    case Mode::kPlain:
    case Mode::kBetween:
    case Mode::kDone:
      break;
  }
  return DecompressStatus::kOk;
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
  if (status == DecompressStatus::kOk && std::fflush(out) != 0) status = DecompressStatus::kWriteError;
  return ReportDecompressStatus(status, src, dst);
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

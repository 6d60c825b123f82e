#include "fileio/gzip_decompress.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "log/logger.h"
#include "platform/platform.h"
#include "signing/crc32_digest.h"
#include "util/scoped_file.h"
#include "zipengine/fast/fast_inflate_stream.h"

namespace {

using FilePtr = util::ScopedFile;

bool StartsWithGzipMagic(const unsigned char* data, size_t length) {
  return length >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

}  // namespace

static_assert(kDecodeRoomBefore == zipengine::DeflateStreamDecoder::kRoomBefore &&
                  kDecodeRoomAfter >= zipengine::DeflateStreamDecoder::kRoomAfter,
              "a place lent to the decoder has the room around it that it needs");

// The deflate decoder's output goes through Emit: counted, bounded, added
// to the member's CRC and handed to the sink.
class GzipStreamDecoder::Output : public zipengine::DeflateStreamDecoder::Sink {
 public:
  explicit Output(GzipStreamDecoder* decoder) : decoder_(decoder) {}
  bool Take(const unsigned char* data, size_t size) override {
    return decoder_->Emit(data, size) == DecompressStatus::kOk;
  }
  unsigned char* Room(size_t* size) override {
    *size = 0;
    return decoder_->room_ ? decoder_->room_(size) : nullptr;
  }

 private:
  GzipStreamDecoder* decoder_;
};

GzipStreamDecoder::GzipStreamDecoder(const DecompressSink& sink, uint64_t maxOutput,
                                     const DecompressRoom& room)
    : sink_(sink), room_(room), limit_(maxOutput), crc_digest_(new Crc32Digest) {}

GzipStreamDecoder::~GzipStreamDecoder() = default;

DecompressStatus GzipStreamDecoder::Fail(DecompressStatus status) {
  failed_ = status;
  return status;
}

DecompressStatus GzipStreamDecoder::Emit(const unsigned char* data, size_t length) {
  if (length == 0) return DecompressStatus::kOk;
  if (length > limit_ - written_) return Fail(DecompressStatus::kTooLong);
  written_ += length;
  if (mode_ == Mode::kInflate && !raw_) {
    if (crc_digest_->ok()) {
      crc_digest_->Update(data, length);
    } else {
      crc_ = crc32_z(crc_, data, length);
    }
  }
  return sink_(data, length) ? DecompressStatus::kOk : Fail(DecompressStatus::kWriteError);
}

void GzipStreamDecoder::MarkPoint(Mode mode, uint64_t input, int bits, int byte) {
  point_.input = input;
  point_.output = written_;
  point_.mode = static_cast<int>(mode);
  point_.bits = bits;
  point_.byte = byte;
}

void GzipStreamDecoder::StartInflate(const unsigned char* window, size_t size, int bits, int byte) {
  if (!inflate_) inflate_.reset(new zipengine::DeflateStreamDecoder);
  inflate_->Start(window, size, bits, byte);
  deflate_input_ = fed_;
  deflate_output_ = written_;
  crc_ = crc32_z(0L, Z_NULL, 0);
  crc_digest_->Reset();
  mode_ = Mode::kInflate;
}

namespace {

// The fields of a gzip header, in their order.
enum HeaderField { kFixed, kExtraLength, kExtra, kName, kComment, kHeaderCrc, kHeaderDone };

}  // namespace

DecompressStatus GzipStreamDecoder::ReadHeader(const unsigned char** data, size_t* size) {
  const unsigned char* in = *data;
  const unsigned char* const end = in + *size;
  while (header_field_ != kHeaderDone && in < end) {
    const unsigned char* field = in;
    const int reading = header_field_;
    switch (reading) {
      case kFixed:
        header_[10 - header_left_] = *in++;
        if (--header_left_ > 0) break;
        // Method 8 (deflate), and no flag this reader does not know.
        if (header_[2] != 8 || (header_[3] & 0xe0) != 0) return Fail(DecompressStatus::kCorrupt);
        header_flags_ = header_[3];
        header_field_ = (header_flags_ & 4) != 0 ? kExtraLength : kName;
        header_left_ = 2;
        break;
      case kExtraLength:
        header_[2 - header_left_] = *in++;
        if (--header_left_ > 0) break;
        header_left_ = header_[0] | size_t{header_[1]} << 8;
        header_field_ = kExtra;
        break;
      case kExtra: {
        size_t skipped = std::min(header_left_, static_cast<size_t>(end - in));
        in += skipped;
        header_left_ -= skipped;
        if (header_left_ == 0) header_field_ = kName;
        break;
      }
      case kName:
      case kComment:
        // Each is there only with its flag, and ends with a zero byte.
        if ((header_flags_ & (reading == kName ? 8u : 16u)) != 0) {
          const void* zero = std::memchr(in, 0, static_cast<size_t>(end - in));
          in = zero == nullptr ? end : static_cast<const unsigned char*>(zero) + 1;
          if (zero == nullptr) break;
        }
        header_field_ = reading + 1;
        header_left_ = 2;
        break;
      case kHeaderCrc:
        if ((header_flags_ & 2) == 0) {
          header_field_ = kHeaderDone;
          break;
        }
        header_[2 - header_left_] = *in++;
        if (--header_left_ > 0) break;
        header_field_ = kHeaderDone;
        // The low half of the CRC of every header byte before these two.
        if ((header_[0] | unsigned{header_[1]} << 8) != (header_crc_ & 0xffff)) {
          return Fail(DecompressStatus::kCorrupt);
        }
        break;
    }
    if (reading != kHeaderCrc)
      header_crc_ = crc32_z(header_crc_, field, static_cast<size_t>(in - field));
  }
  fed_ += static_cast<uint64_t>(in - *data);
  *size -= static_cast<size_t>(in - *data);
  *data = in;
  return DecompressStatus::kOk;
}

DecompressStatus GzipStreamDecoder::ReadTrailer(const unsigned char** data, size_t* size) {
  size_t taken = std::min(sizeof(trailer_) - trailer_have_, *size);
  std::memcpy(trailer_ + trailer_have_, *data, taken);
  trailer_have_ += taken;
  fed_ += taken;
  *data += taken;
  *size -= taken;
  if (trailer_have_ < sizeof(trailer_)) return DecompressStatus::kOk;
  // A member entered at a resume point has no CRC of its own to check:
  // its output is checked whole another way.
  if (!raw_) {
    uint32_t crc = trailer_[0] | uint32_t{trailer_[1]} << 8 | uint32_t{trailer_[2]} << 16 |
                   uint32_t{trailer_[3]} << 24;
    uint64_t claimed = trailer_[4] | uint64_t{trailer_[5]} << 8 | uint64_t{trailer_[6]} << 16 |
                       uint64_t{trailer_[7]} << 24;
    uint32_t found = crc_digest_->ok() ? crc_digest_->Value() : static_cast<uint32_t>(crc_);
    if (crc != found) return Fail(DecompressStatus::kCorrupt);
    if (((written_ - member_start_) & 0xffffffffu) != claimed) return Fail(LengthMismatch(claimed));
  }
  // One member is complete and checked. Another may follow, as in a file
  // made by appending gzip files; anything else after it is ignored.
  raw_ = false;
  mode_ = Mode::kBetween;
  MarkPoint(Mode::kBetween, fed_, 0, 0);
  return DecompressStatus::kOk;
}

// A member that decoded whole and matched its CRC but not its trailer's
// length: one that goes on past that length is a forged file made to fill
// a disk (a gzip bomb), and is told apart from mere damage.
DecompressStatus GzipStreamDecoder::LengthMismatch(uint64_t claimed) {
  return written_ - member_start_ > claimed ? DecompressStatus::kBeyondTrailer
                                            : DecompressStatus::kCorrupt;
}

DecompressStatus GzipStreamDecoder::Inflate(const unsigned char* data, size_t size, bool last) {
  Output output(this);
  zipengine::DeflateStreamDecoder::Status status = inflate_->Feed(data, size, &output, last);
  if (failed_ != DecompressStatus::kOk) return failed_;
  switch (status) {
    case zipengine::DeflateStreamDecoder::Status::kMore:
      fed_ += size;
      break;
    case zipengine::DeflateStreamDecoder::Status::kEnd: {
      fed_ = deflate_input_ + inflate_->input_used();
      std::string rest(reinterpret_cast<const char*>(inflate_->rest()), inflate_->rest_size());
      rest_.swap(rest);
      mode_ = Mode::kTrailer;
      trailer_have_ = 0;
      return DecompressStatus::kOk;
    }
    case zipengine::DeflateStreamDecoder::Status::kBad:
    case zipengine::DeflateStreamDecoder::Status::kStopped:
      return Fail(DecompressStatus::kCorrupt);
  }
  // The latest block boundary is a resume point: its output is all out.
  const zipengine::DeflateStreamDecoder::Boundary& at = inflate_->boundary();
  MarkPoint(Mode::kInflate, deflate_input_ + at.input, at.bits, at.byte);
  point_.output = deflate_output_ + at.output;
  return DecompressStatus::kOk;
}

DecompressStatus GzipStreamDecoder::Feed(const void* data, size_t size) {
  if (failed_ != DecompressStatus::kOk) return failed_;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  // What followed a member's deflate data goes through before the rest of
  // this input; the string is swapped, never appended to, while in points
  // into it.
  std::string pending;
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
        DecompressStatus status = ReadTrailer(&in, &size);
        if (status != DecompressStatus::kOk) return status;
        continue;
      }
      case Mode::kHeader: {
        DecompressStatus status = ReadHeader(&in, &size);
        if (status != DecompressStatus::kOk) return status;
        if (header_field_ == kHeaderDone) {
          member_start_ = written_;
          StartInflate(nullptr, 0, 0, 0);
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
        mode_ = Mode::kHeader;
        header_field_ = kFixed;
        header_left_ = 8;
        header_[0] = held_[0];
        header_[1] = held_[1];
        header_crc_ = crc32_z(0L, held_, 2);
        continue;
      }
      case Mode::kInflate: {
        DecompressStatus status = Inflate(in, size, false);
        if (status != DecompressStatus::kOk) return status;
        size = 0;
        if (mode_ == Mode::kTrailer) {
          pending.swap(rest_);
          in = reinterpret_cast<const unsigned char*>(pending.data());
          size = pending.size();
        }
        continue;
      }
    }
  }
  return DecompressStatus::kOk;
}

DecompressStatus GzipStreamDecoder::Finish() {
  if (failed_ != DecompressStatus::kOk) return failed_;
  // The last bytes of a member's deflate data may have waited for more
  // input; so may whole members after it.
  while (mode_ == Mode::kInflate) {
    DecompressStatus status = Inflate(nullptr, 0, true);
    if (status != DecompressStatus::kOk) return status;
    std::string pending;
    pending.swap(rest_);
    status = Feed(pending.data(), pending.size());
    if (status != DecompressStatus::kOk) return status;
  }
  switch (mode_) {
    case Mode::kStart:
      // Fewer than two bytes: no gzip file, so taken as they are.
      mode_ = Mode::kPlain;
      return Emit(held_, held_size_);
    case Mode::kHeader:
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
    case Mode::kInflate:
      if (point.bits < 0 || point.bits > 7 || point.byte < 0 || point.byte > 255) return false;
      break;
    case Mode::kTrailer:
    case Mode::kHeader:
      return false;
  }
  if (point.output > limit_) return false;
  fed_ = point.input;
  written_ = point.output;
  if (mode == Mode::kInflate) {
    // The rest of the member is decoded without its trailer's checks.
    StartInflate(window, size, point.bits, point.byte);
    raw_ = true;
    member_start_ = point.output;
  }
  mode_ = mode;
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

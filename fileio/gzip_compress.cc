#include "fileio/gzip_compress.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "fileio/io_util.h"
#include "log/logger.h"
#include "platform/platform.h"

namespace {

// Data moves in pieces of this size, so memory does not grow with the file.
constexpr size_t kChunkSize = 32768;

// No name, no time stamp, no extra flags; the operating-system byte is fixed
// here rather than left to how zlib happened to be built.
const unsigned char kGzipHeader[10] = {0x1f, 0x8b, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0b};

// zlib's defaults, as its gzip file functions use them: level 6, a 32 KiB
// window, memory level 8, default strategy. Negative window bits give raw
// deflate data; the header and trailer are written here.
constexpr int kLevel = 6;
constexpr int kRawWindowBits = -15;
constexpr int kMemLevel = 8;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// One gzip member written to an open file. Output is gathered into whole
// chunks before it is written, so the file sees few, large writes.
class GzipMemberWriter {
 public:
  explicit GzipMemberWriter(FILE* out) : out_(out), buffer_(new unsigned char[kChunkSize]) {
    std::memset(&stream_, 0, sizeof(stream_));
  }
  ~GzipMemberWriter() {
    if (initialised_) deflateEnd(&stream_);
  }
  GzipMemberWriter(const GzipMemberWriter&) = delete;
  GzipMemberWriter& operator=(const GzipMemberWriter&) = delete;

  bool Start() {
    if (deflateInit2(&stream_, kLevel, Z_DEFLATED, kRawWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
      return false;
    }
    initialised_ = true;
    std::memcpy(buffer_.get(), kGzipHeader, sizeof(kGzipHeader));
    stream_.next_out = buffer_.get() + sizeof(kGzipHeader);
    stream_.avail_out = static_cast<uInt>(kChunkSize - sizeof(kGzipHeader));
    return true;
  }

  bool Add(const unsigned char* data, size_t size) {
    crc_ = crc32(crc_, data, static_cast<uInt>(size));
    length_ += static_cast<uint32_t>(size);
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = static_cast<uInt>(size);
    return Deflate(Z_NO_FLUSH);
  }

  // Ends the deflate data and appends the CRC-32 and the length.
  bool Finish() {
    if (!Deflate(Z_FINISH)) return false;
    unsigned char trailer[8];
    for (int i = 0; i < 4; ++i) {
      trailer[i] = static_cast<unsigned char>(crc_ >> (8 * i));
      trailer[4 + i] = static_cast<unsigned char>(length_ >> (8 * i));
    }
    for (unsigned char byte : trailer) {
      if (stream_.avail_out == 0 && !FlushBuffer()) return false;
      *stream_.next_out++ = byte;
      --stream_.avail_out;
    }
    return FlushBuffer();
  }

 private:
  bool Deflate(int flush) {
    for (;;) {
      if (stream_.avail_out == 0 && !FlushBuffer()) return false;
      int result = deflate(&stream_, flush);
      if (result == Z_STREAM_ERROR) return false;
      if (flush == Z_FINISH) {
        if (result == Z_STREAM_END) return true;
      } else if (stream_.avail_in == 0 && stream_.avail_out != 0) {
        return true;
      }
    }
  }

  bool FlushBuffer() {
    size_t pending = kChunkSize - stream_.avail_out;
    if (pending > 0 && std::fwrite(buffer_.get(), 1, pending, out_) != pending) return false;
    stream_.next_out = buffer_.get();
    stream_.avail_out = static_cast<uInt>(kChunkSize);
    return true;
  }

  FILE* out_;
  std::unique_ptr<unsigned char[]> buffer_;
  z_stream stream_;
  bool initialised_ = false;
  uLong crc_ = 0;
  uint32_t length_ = 0;
};

// What a source that cannot be opened leaves at the destination: a complete
// member of no data.
void WriteEmptyMember(const char* dst) {
  plat::RemoveFile(dst);
  FilePtr out(plat::OpenFile(dst, "wb"));
  if (!out) return;
  GzipMemberWriter writer(out.get());
  if (writer.Start()) writer.Finish();
}

}  // namespace

int64_t IOUtil_CompressFile(const char* src, const char* dst) {
  if (src == nullptr || dst == nullptr) return -1;
  // The source is opened and checked before the destination is touched: a
  // destination that is the source under another name, or lies inside a
  // source directory, would be deleted before it was read.
  FilePtr in(plat::OpenFile(src, "rb"));
  if (!in) {
    if (!IsSameOrInside(dst, src)) WriteEmptyMember(dst);
    LogError() << "Open Src File [" << src << "] Fail!";
    return -1;
  }
  if (plat::IsSameFile(src, dst)) {
    LogError() << "Dst File [" << dst << "] is Src File [" << src << "]!";
    return -1;
  }
  // A release names its compressed files from the patch directory too (hard
  // links); a new file, not a truncated old one, keeps an earlier patch's
  // copy from changing under it.
  plat::RemoveFile(dst);
  FilePtr out(plat::OpenFile(dst, "wb"));
  if (!out) {
    LogError() << "Open Dst File [" << dst << "] Fail!";
    return -1;
  }
  // Whole chunks go straight to the system; stdio would only copy them.
  std::setvbuf(out.get(), nullptr, _IONBF, 0);
  GzipMemberWriter writer(out.get());
  if (!writer.Start()) {
    LogError() << "Deflate Init for [" << dst << "] Fail!";
    return -1;
  }
  std::setvbuf(in.get(), nullptr, _IONBF, 0);

  std::unique_ptr<unsigned char[]> chunk(new unsigned char[kChunkSize]);
  int64_t total = 0;
  for (;;) {
    size_t got = std::fread(chunk.get(), 1, kChunkSize, in.get());
    if (got > 0) {
      if (!writer.Add(chunk.get(), got)) {
        LogError() << "Write Dst File [" << dst << "] Fail!";
        return -1;
      }
      total += static_cast<int64_t>(got);
    }
    if (got < kChunkSize) break;
  }
  if (std::ferror(in.get())) {
    // A file cut short by a read error must not pass for the whole file.
    LogError() << "Read Src File [" << src << "] Fail!";
    return -1;
  }
  if (!writer.Finish() || std::fclose(out.release()) != 0) {
    LogError() << "Write Dst File [" << dst << "] Fail!";
    return -1;
  }
  return total;
}

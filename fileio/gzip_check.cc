#include "fileio/gzip_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "util/scoped_file.h"
#include "zipengine/fast/fast_inflate.h"
#include "zlib.h"

namespace {

constexpr size_t kChunk = 1 << 18;
// Window bits for zlib: a 32 KiB window, gzip wrapper only.
constexpr int kGzipOnly = 15 + 16;
// Compressed files up to this size are read whole and decoded in memory;
// larger ones (rare in a release) are decoded as they are read.
// Small enough that the buffer is no burden on a 32-bit process.
constexpr size_t kWholeFileLimit = size_t{16} << 20;
// The first read asks for this much at least, so that most files come in
// one read.
constexpr size_t kFirstRead = size_t{1} << 20;

struct InflateEnd {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

// Decodes the one member of the file at path, handing each piece of output
// to sink (which may refuse it). On success *crc and *size hold what the
// member decoded to, as zlib checked it against the trailer.
bool DecodeOneMember(const char* path, const std::function<bool(const char*, size_t)>& sink,
                     uint32_t* crc, uint32_t* size) {
  util::ScopedFile file(plat::OpenFile(path, "rb"));
  if (!file) return false;
  z_stream stream = {};
  if (inflateInit2(&stream, kGzipOnly) != Z_OK) return false;
  std::unique_ptr<z_stream, InflateEnd> end(&stream);
  std::unique_ptr<unsigned char[]> in(new unsigned char[kChunk]);
  std::unique_ptr<unsigned char[]> out(new unsigned char[kChunk]);
  int status = Z_OK;
  while (status != Z_STREAM_END) {
    if (stream.avail_in == 0) {
      size_t got = std::fread(in.get(), 1, kChunk, file.get());
      if (got == 0) return false;  // cut off, or unreadable
      stream.next_in = in.get();
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = out.get();
    stream.avail_out = static_cast<uInt>(kChunk);
    status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) return false;
    size_t produced = kChunk - stream.avail_out;
    if (produced > 0 && !sink(reinterpret_cast<const char*>(out.get()), produced)) return false;
  }
  // One member and nothing after it.
  if (stream.avail_in != 0 || std::fgetc(file.get()) != EOF) return false;
  *crc = static_cast<uint32_t>(stream.adler);
  *size = static_cast<uint32_t>(stream.total_out);
  return true;
}

}  // namespace

bool GunzipFileToString(const char* path, size_t limit, std::string* plain) {
  plain->clear();
  uint32_t crc = 0;
  uint32_t size = 0;
  return DecodeOneMember(
      path,
      [&](const char* data, size_t length) {
        if (plain->size() + length > limit) return false;
        plain->append(data, length);
        return true;
      },
      &crc, &size);
}

bool IsGzipMemberOf(const char* path, uint32_t crc, uint32_t size) {
  uint32_t decoded_crc = 0;
  uint32_t decoded_size = 0;
  return DecodeOneMember(
             path, [](const char*, size_t) { return true; }, &decoded_crc, &decoded_size) &&
         decoded_crc == crc && decoded_size == size;
}

namespace {

// The decoded bytes' CRC-32 (zlib's, the fastest at hand) and length.
class CrcSink : public zipengine::GzipMemberDecoder::Sink {
 public:
  void Take(const unsigned char* data, size_t size) override {
    crc_ = crc32_z(crc_, data, size);
    length_ += size;
  }
  uint32_t crc() const { return static_cast<uint32_t>(crc_); }
  uint32_t length() const { return static_cast<uint32_t>(length_); }

 private:
  uLong crc_ = crc32(0L, Z_NULL, 0);
  uint64_t length_ = 0;
};

}  // namespace

GzipMemberChecker::GzipMemberChecker() : decoder_(new zipengine::GzipMemberDecoder) {}

GzipMemberChecker::~GzipMemberChecker() = default;

bool GzipMemberChecker::IsMemberOf(const char* path, uint32_t crc, uint32_t size) {
  used_ = 0;
  util::ScopedFile file(plat::OpenFile(path, "rb"));
  if (!file) return false;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  size_t used = 0;
  for (;;) {
    if (capacity_ - used < kFirstRead / 4) {
      size_t capacity =
          std::min(std::max(capacity_ * 2, used + kFirstRead), kWholeFileLimit + kFirstRead);
      std::unique_ptr<unsigned char[]> bigger(new (std::nothrow) unsigned char[capacity]);
      if (!bigger) {
        file.reset();
        return IsGzipMemberOf(path, crc, size);
      }
      if (used != 0) std::memcpy(bigger.get(), bytes_.get(), used);
      bytes_ = std::move(bigger);
      capacity_ = capacity;
    }
    size_t got = std::fread(bytes_.get() + used, 1, capacity_ - used, file.get());
    used += got;
    if (got == 0) break;
    if (used > kWholeFileLimit) {
      file.reset();
      return IsGzipMemberOf(path, crc, size);
    }
  }
  if (std::ferror(file.get())) return false;
  file.reset();
  used_ = used;
  CrcSink sink;
  uint32_t trailer_crc = 0;
  uint32_t trailer_length = 0;
  // The trailer must describe what the data decoded to, and that must be
  // the source's.
  return decoder_->Decode(bytes_.get(), used, &sink, &trailer_crc, &trailer_length) &&
         sink.crc() == trailer_crc && sink.length() == trailer_length && trailer_crc == crc &&
         trailer_length == size;
}

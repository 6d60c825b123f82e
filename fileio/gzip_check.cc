#include "fileio/gzip_check.h"

#include <cstdio>
#include <functional>
#include <memory>

#include "platform/platform.h"
#include "util/scoped_file.h"
#include "zlib.h"

namespace {

constexpr size_t kChunk = 1 << 18;
// Window bits for zlib: a 32 KiB window, gzip wrapper only.
constexpr int kGzipOnly = 15 + 16;

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

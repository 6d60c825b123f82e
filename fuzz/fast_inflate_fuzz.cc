// The member decoder a rebuild checks earlier releases' files with, on any
// input: it takes a member (decoded, trailer matching what it decoded to)
// exactly when zlib takes the input as one whole member with nothing after
// it, and then gives zlib's bytes.
#include <zlib.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"
#include "zipengine/fast/fast_inflate.h"

namespace {

class StringSink : public zipengine::GzipMemberDecoder::Sink {
 public:
  void Take(const unsigned char* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
  }
  std::string bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One decoder for every run, as a rebuild uses one for all its files.
  static zipengine::GzipMemberDecoder decoder;
  StringSink sink;
  uint32_t crc = 0;
  uint32_t length = 0;
  bool decoded = decoder.Decode(data, size, &sink, &crc, &length);
  uint32_t actual = static_cast<uint32_t>(crc32(
      0L, reinterpret_cast<const Bytef*>(sink.bytes.data()), static_cast<uInt>(sink.bytes.size())));
  bool ours = decoded && crc == actual && length == static_cast<uint32_t>(sink.bytes.size());

  std::string by_zlib;
  size_t used = 0;
  bool zlibs = fuzz::ZlibFirstMember(data, size, &by_zlib, &used) && used == size;
  FUZZ_CHECK(ours == zlibs);
  if (ours) FUZZ_CHECK(sink.bytes == by_zlib);
  return 0;
}

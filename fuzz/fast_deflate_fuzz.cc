// The engine's fast deflate mode on arbitrary data: zlib must read the
// member back, one member with nothing after it, to exactly the input; and
// the member must not depend on the pieces the input was fed in.
//
// The first byte steers the run and is not compressed: its low bits pick
// the piece size for the second feeding, and four set high bits repeat the
// rest of the input past the stream's 1 MiB buffer, so that the buffer's
// slide and matches across it are reached from small inputs (in one run of
// sixteen: such runs are slow).
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"
#include "zipengine/fast/fast_deflate.h"

namespace {

constexpr size_t kPastOnePiece = (size_t{1} << 20) + 40000;

std::string Compress(zipengine::FastGzipStream& stream, const std::string& data, size_t piece) {
  stream.Begin();
  for (size_t at = 0; at < data.size(); at += piece) {
    size_t take = data.size() - at < piece ? data.size() - at : piece;
    stream.Add(reinterpret_cast<const unsigned char*>(data.data()) + at, take);
  }
  stream.Finish();
  return std::string(reinterpret_cast<const char*>(stream.output()), stream.output_size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One stream for every run, as a release uses one for all its files.
  static zipengine::FastGzipStream stream;
  if (size == 0) return 0;
  const unsigned steer = data[0];
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((steer & 0xf0) == 0xf0 && !input.empty()) {
    std::string tiled;
    tiled.reserve(kPastOnePiece + input.size());
    while (tiled.size() < kPastOnePiece) tiled += input;
    input.swap(tiled);
  }

  const std::string whole = Compress(stream, input, input.empty() ? 1 : input.size());
  std::string byZlib;
  size_t used = 0;
  FUZZ_CHECK(fuzz::ZlibFirstMember(reinterpret_cast<const uint8_t*>(whole.data()), whole.size(),
                                   &byZlib, &used));
  FUZZ_CHECK(byZlib == input);
  FUZZ_CHECK(used == whole.size());

  const size_t piece = size_t{1} << (steer & 0x0f);
  FUZZ_CHECK(Compress(stream, input, piece) == whole);
  return 0;
}

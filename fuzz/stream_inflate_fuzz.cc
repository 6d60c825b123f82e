// The decoder a download is fed through as it arrives, on any input cut into
// pieces of any sizes (the first byte steers them): it takes a gzip input
// exactly when zlib takes its members one after another, and then gives
// zlib's bytes; other input passes as it is. From a resume point it passed,
// a second decoder with only the output before the point gives the rest.
// Lent places of any size to decode into (as the update engine's ring
// lends them), a decoder gives the same bytes and verdict.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fileio/gzip_decompress.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/gzip_oracle.h"

namespace {

// Decodes data in pieces of size piece into places of size place, each
// lent in turn from two buffers with their room around them; the second is
// scribbled over before it is lent, so a window not carried along shows.
DecompressStatus DecodeIntoPlaces(const uint8_t* data, size_t size, size_t piece, size_t place,
                                  std::string* output) {
  std::vector<unsigned char> memory[2];
  for (std::vector<unsigned char>& one : memory) {
    one.assign(kDecodeRoomBefore + place + kDecodeRoomAfter, 0xa5);
  }
  int current = 0;
  size_t filled = 0;
  auto at = [&]() { return memory[current].data() + kDecodeRoomBefore + filled; };
  DecompressSink sink = [&](const unsigned char* bytes, size_t length) {
    output->append(reinterpret_cast<const char*>(bytes), length);
    if (bytes == at() && (filled += length) >= place) {
      current ^= 1;
      filled = 0;
      std::fill(memory[current].begin(), memory[current].end(), 0xa5);
    }
    return true;
  };
  DecompressRoom room = [&](size_t* left) {
    *left = place - filled;
    return at();
  };
  GzipStreamDecoder decoder(sink, UINT64_MAX, room);
  DecompressStatus status = DecompressStatus::kOk;
  for (size_t from = 0; from < size && status == DecompressStatus::kOk; from += piece) {
    status = decoder.Feed(data + from, std::min(piece, size - from));
  }
  return status == DecompressStatus::kOk ? decoder.Finish() : status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  uint32_t steer = data[0] | 1u;
  ++data;
  --size;
  std::string output;
  DecompressSink sink = [&output](const unsigned char* bytes, size_t length) {
    output.append(reinterpret_cast<const char*>(bytes), length);
    return true;
  };
  GzipStreamDecoder decoder(sink, UINT64_MAX);
  std::vector<GzipResumePoint> points;
  DecompressStatus status = DecompressStatus::kOk;
  for (size_t at = 0; at < size && status == DecompressStatus::kOk;) {
    // Piece sizes from 1 byte to 4 KiB, as a small generator steered by the
    // first byte gives them.
    steer = steer * 1103515245u + 12345u;
    size_t piece = 1 + (steer >> 16) % ((steer & 0x100) != 0 ? 4096 : 16);
    if (piece > size - at) piece = size - at;
    status = decoder.Feed(data + at, piece);
    at += piece;
    if (status == DecompressStatus::kOk) points.push_back(decoder.resume_point());
  }
  if (status == DecompressStatus::kOk) status = decoder.Finish();
  bool ours = status == DecompressStatus::kOk;
  std::string placed;
  DecompressStatus placed_status =
      DecodeIntoPlaces(data, size, 1 + steer % 3000, 1 + (steer >> 8) % 70000, &placed);
  FUZZ_CHECK((placed_status == DecompressStatus::kOk) == ours);
  FUZZ_CHECK(!ours || placed == output);

  bool gzip = size >= 2 && data[0] == 0x1f && data[1] == 0x8b;
  if (!gzip) {
    FUZZ_CHECK(ours);
    FUZZ_CHECK(output == std::string(reinterpret_cast<const char*>(data), size));
    return 0;
  }
  std::string by_zlib;
  bool zlibs = fuzz::ZlibMembers(data, size, &by_zlib);
  FUZZ_CHECK(ours == zlibs);
  if (!ours) return 0;
  FUZZ_CHECK(output == by_zlib);

  if (points.empty()) return 0;
  const GzipResumePoint& point = points[steer % points.size()];
  FUZZ_CHECK(point.input <= size && point.output <= output.size());
  std::string rest;
  DecompressSink more = [&rest](const unsigned char* bytes, size_t length) {
    rest.append(reinterpret_cast<const char*>(bytes), length);
    return true;
  };
  GzipStreamDecoder again(more, UINT64_MAX);
  FUZZ_CHECK(again.ResumeAt(point, reinterpret_cast<const unsigned char*>(output.data()),
                            static_cast<size_t>(point.output)));
  FUZZ_CHECK(again.Feed(data + point.input, size - static_cast<size_t>(point.input)) ==
             DecompressStatus::kOk);
  FUZZ_CHECK(again.Finish() == DecompressStatus::kOk);
  FUZZ_CHECK(rest == output.substr(static_cast<size_t>(point.output)));
  return 0;
}

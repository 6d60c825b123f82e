// Decodes one gzip file with the engine's fastest decoder, the output
// dropped: the floor under any install of that file, which must at least
// decode it. The whole member is read into memory first and only the decode
// is timed (the member decoder that rebuilds use, and the streaming decoder
// that downloads go through, fed in the pieces a transfer brings).
//
//   fast_gunzip_bench FILE.gz   prints "member decoder S s" and "streaming decoder S s"
#include <chrono>
#include <cstdio>
#include <string>

#include "zipengine/fast/fast_inflate.h"
#include "zipengine/fast/fast_inflate_stream.h"

namespace {

class Drop : public zipengine::GzipMemberDecoder::Sink {
 public:
  void Take(const unsigned char*, size_t size) override { total_member += size; }
  uint64_t total_member = 0;
};

class StreamDrop : public zipengine::DeflateStreamDecoder::Sink {
 public:
  bool Take(const unsigned char*, size_t size) override {
    total += size;
    return true;
  }
  uint64_t total = 0;
};

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fast_gunzip_bench FILE.gz\n");
    return 2;
  }
  std::string member;
  if (FILE* in = std::fopen(argv[1], "rb")) {
    char buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) member.append(buffer, got);
    std::fclose(in);
  }
  const unsigned char* data = reinterpret_cast<const unsigned char*>(member.data());
  // A header of ten bytes, as releases write it, or with a name (gzip's).
  size_t header = 10;
  if (member.size() >= 18 && data[3] == 8) {
    while (header < member.size() && data[header] != 0) ++header;
    ++header;
  } else if (member.size() < 18 || data[3] != 0) {
    std::fprintf(stderr, "%s: not a gzip member with a plain header\n", argv[1]);
    return 1;
  }
  zipengine::GzipMemberDecoder whole;
  Drop drop;
  uint32_t crc = 0;
  uint32_t length = 0;
  auto start = std::chrono::steady_clock::now();
  bool ok = whole.Decode(data, member.size(), &drop, &crc, &length);
  double member_seconds = Since(start);

  zipengine::DeflateStreamDecoder stream;
  StreamDrop stream_drop;
  start = std::chrono::steady_clock::now();
  stream.Start(nullptr, 0, 0, 0);
  const size_t kPiece = 16384;  // what a transfer hands on at a time
  zipengine::DeflateStreamDecoder::Status status = zipengine::DeflateStreamDecoder::Status::kMore;
  for (size_t at = header; at < member.size() && status == zipengine::DeflateStreamDecoder::Status::kMore;
       at += kPiece) {
    size_t size = member.size() - at < kPiece ? member.size() - at : kPiece;
    status = stream.Feed(data + at, size, &stream_drop);
  }
  // The last bytes of the data wait for the input's end.
  if (status == zipengine::DeflateStreamDecoder::Status::kMore) status = stream.Feed(nullptr, 0, &stream_drop, true);
  double stream_seconds = Since(start);
  if (!ok || status != zipengine::DeflateStreamDecoder::Status::kEnd || stream_drop.total != drop.total_member ||
      drop.total_member % (uint64_t{1} << 32) != length) {
    std::fprintf(stderr, "%s: does not decode\n", argv[1]);
    return 1;
  }
  std::printf("decoded %llu bytes\n", static_cast<unsigned long long>(drop.total_member));
  std::printf("member decoder %.3f s\n", member_seconds);
  std::printf("streaming decoder %.3f s\n", stream_seconds);
  return 0;
}

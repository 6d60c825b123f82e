// The member decoder a rebuild checks earlier releases' files with: it must
// read every member zlib reads to the same bytes, and refuse every member
// zlib refuses (a damaged file would otherwise spread into new releases).
#include "zipengine/fast/fast_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/gzip_oracle.h"
#include "zipengine/fast/fast_deflate.h"

namespace {

using testing_support::RandomBytes;
using testing_support::TextLike;

class StringSink : public zipengine::GzipMemberDecoder::Sink {
 public:
  void Take(const unsigned char* data, size_t size) override {
    bytes.append(reinterpret_cast<const char*>(data), size);
  }
  std::string bytes;
};

// A whole member as the check takes it: decoded, and the trailer matching
// what it decoded to.
bool Decode(zipengine::GzipMemberDecoder& decoder, const std::string& member, std::string* plain) {
  StringSink sink;
  uint32_t crc = 0;
  uint32_t length = 0;
  bool decoded = decoder.Decode(reinterpret_cast<const unsigned char*>(member.data()),
                                member.size(), &sink, &crc, &length);
  *plain = sink.bytes;
  uLong actual =
      crc32(0L, reinterpret_cast<const Bytef*>(plain->data()), static_cast<uInt>(plain->size()));
  return decoded && crc == actual && length == static_cast<uint32_t>(plain->size());
}

// zlib with a strategy of choice, gzip wrapper.
std::string ZlibMember(const std::string& data, int level, int strategy) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, 15 + 16, 8, strategy) != Z_OK) {
    throw std::runtime_error("deflateInit2");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::string FastMember(const std::string& data) {
  zipengine::FastGzipStream stream;
  stream.Begin();
  stream.Add(reinterpret_cast<const unsigned char*>(data.data()), data.size());
  stream.Finish();
  return std::string(reinterpret_cast<const char*>(stream.output()), stream.output_size());
}

// Runs of every short distance, which the decoder copies byte by byte.
std::string Runs(size_t size) {
  std::string data;
  for (int period = 1; data.size() < size; period = period % 9 + 1) {
    std::string unit = RandomBytes(period, period);
    for (int i = 0; i < 400; ++i) data += unit;
  }
  return data.substr(0, size);
}

struct Input {
  const char* name;
  std::string data;
};

std::vector<Input> Inputs() {
  return {
      {"empty", ""},
      {"one byte", "x"},
      {"text", TextLike(200000, 1)},
      {"random (stored blocks)", RandomBytes(150000, 2)},
      {"short-distance runs", Runs(100000)},
      // Over the decoder's 1 MiB piece, so that its window slides.
      {"mixed, 3 MB",
       TextLike(1200000, 3) + RandomBytes(600000, 4) + Runs(700000) + TextLike(500000, 5)},
  };
}

TEST(FastInflate, ReadsWhatZlibAndTheFastModeWrite) {
  zipengine::GzipMemberDecoder decoder;  // one for all, as a rebuild uses it
  const struct {
    const char* name;
    int level;
    int strategy;
  } writers[] = {
      {"zlib level 0", 0, Z_DEFAULT_STRATEGY},
      {"zlib level 1", 1, Z_DEFAULT_STRATEGY},
      {"zlib level 6", 6, Z_DEFAULT_STRATEGY},
      {"zlib level 9", 9, Z_DEFAULT_STRATEGY},
      {"zlib fixed codes", 6, Z_FIXED},
      {"zlib Huffman only", 6, Z_HUFFMAN_ONLY},
      {"zlib runs", 6, Z_RLE},
  };
  for (const Input& input : Inputs()) {
    std::vector<std::pair<std::string, std::string>> members;
    for (const auto& writer : writers) {
      members.emplace_back(writer.name, ZlibMember(input.data, writer.level, writer.strategy));
    }
    members.emplace_back("fast mode", FastMember(input.data));
    testing_support::ZlibGzipOptions fields;
    fields.name = "name.txt";
    fields.comment = "a comment";
    fields.extra = std::string("AB\x04\x00wxyz", 8);
    fields.header_crc = true;
    members.emplace_back("every header field", testing_support::ZlibGzip(input.data, fields));
    for (const auto& member : members) {
      std::string plain;
      EXPECT_TRUE(Decode(decoder, member.second, &plain)) << input.name << ", " << member.first;
      EXPECT_TRUE(plain == input.data) << input.name << ", " << member.first;
    }
  }
}

// Damage of every kind at many places: the decoder takes a member exactly
// when zlib does, and then reads the same bytes.
TEST(FastInflate, RefusesWhatZlibRefuses) {
  zipengine::GzipMemberDecoder decoder;
  std::string mixed = TextLike(40000, 7) + RandomBytes(3000, 8) + Runs(20000);
  testing_support::ZlibGzipOptions fields;
  fields.name = "n";
  fields.extra = "xyzw";
  fields.header_crc = true;
  const std::pair<const char*, std::string> sound[] = {
      {"fast mode", FastMember(mixed)},
      {"zlib level 6", ZlibMember(mixed, 6, Z_DEFAULT_STRATEGY)},
      {"zlib fixed codes", ZlibMember(TextLike(5000, 9), 6, Z_FIXED)},
      {"zlib stored", ZlibMember(RandomBytes(3000, 10), 0, Z_DEFAULT_STRATEGY)},
      {"header fields", testing_support::ZlibGzip(TextLike(3000, 11), fields)},
  };
  int refused = 0;
  int checked = 0;
  for (const auto& member : sound) {
    std::vector<std::string> damaged;
    const std::string& bytes = member.second;
    size_t step = bytes.size() / 300 + 1;
    for (size_t at = 0; at < bytes.size(); at += step) {
      for (unsigned char flip : {0x01, 0x10, 0x80, 0xff}) {
        std::string copy = bytes;
        copy[at] = static_cast<char>(copy[at] ^ flip);
        damaged.push_back(copy);
      }
      damaged.push_back(bytes.substr(0, at));
    }
    damaged.push_back(bytes + '\0');
    damaged.push_back(bytes + bytes);
    for (const std::string& copy : damaged) {
      std::string ours;
      std::string zlibs;
      bool zlib_takes = testing_support::ZlibGunzip(copy, &zlibs);
      bool we_take = Decode(decoder, copy, &ours);
      ++checked;
      if (!zlib_takes) ++refused;
      ASSERT_EQ(we_take, zlib_takes) << member.first << ", damaged copy " << checked;
      if (we_take) {
        ASSERT_TRUE(ours == zlibs) << member.first << ", damaged copy " << checked;
      }
    }
  }
  // The damage mostly breaks the data (a few flips land in the header's
  // free fields, which readers ignore).
  EXPECT_GT(refused, checked * 9 / 10);
}

}  // namespace

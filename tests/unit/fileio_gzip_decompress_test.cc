// The decoder a download is fed through as it arrives: whatever pieces the
// network cuts the body into, the output is what zlib wrote the members
// from, and a damaged or cut-off body is refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fileio/gzip_decompress.h"
#include "support/gzip_oracle.h"

namespace {

using testing_support::RandomBytes;
using testing_support::TextLike;
using testing_support::ZlibGzip;

struct Outcome {
  DecompressStatus status;
  std::string output;
};

testing_support::ZlibGzipOptions Level(int level) {
  testing_support::ZlibGzipOptions options;
  options.level = level;
  return options;
}

Outcome FeedInPieces(const std::string& input, size_t piece, uint64_t limit = UINT64_MAX) {
  Outcome outcome{DecompressStatus::kOk, ""};
  DecompressSink sink = [&outcome](const unsigned char* data, size_t length) {
    outcome.output.append(reinterpret_cast<const char*>(data), length);
    return true;
  };
  GzipStreamDecoder decoder(sink, limit);
  for (size_t at = 0; at < input.size() && outcome.status == DecompressStatus::kOk; at += piece) {
    outcome.status = decoder.Feed(input.data() + at, std::min(piece, input.size() - at));
  }
  if (outcome.status == DecompressStatus::kOk) outcome.status = decoder.Finish();
  return outcome;
}

TEST(GzipStreamDecoder, AnyPiecesGiveWhatZlibWrote) {
  const std::string text = TextLike(300000, 3);
  const std::string noise = RandomBytes(70000, 4);
  const std::string first = ZlibGzip(text);
  std::string damaged = first;
  damaged[first.size() / 2] = static_cast<char>(damaged[first.size() / 2] ^ 0x5a);
  const struct Case {
    const char* name;
    std::string input;
    DecompressStatus status;
    std::string output;  // for kOk
  } cases[] = {
      {"two members and bytes that are none", first + ZlibGzip(noise, Level(1)) + "xyz",
       DecompressStatus::kOk, text + noise},
      {"a stored member", ZlibGzip(noise, Level(0)), DecompressStatus::kOk, noise},
      {"not gzip: taken as it is", "plain text, no gzip", DecompressStatus::kOk,
       "plain text, no gzip"},
      {"one byte", "\x1f", DecompressStatus::kOk, "\x1f"},
      {"nothing", "", DecompressStatus::kOk, ""},
      {"cut off before its trailer", first.substr(0, first.size() - 4), DecompressStatus::kCorrupt,
       ""},
      {"cut off in its header", first.substr(0, 5), DecompressStatus::kCorrupt, ""},
      {"a damaged byte", damaged, DecompressStatus::kCorrupt, ""},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{4093}, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      Outcome outcome = FeedInPieces(c.input, piece);
      EXPECT_EQ(outcome.status, c.status);
      if (c.status == DecompressStatus::kOk) {
        EXPECT_TRUE(outcome.output == c.output);
      }
    }
  }
}

TEST(GzipStreamDecoder, StopsAtTheLimit) {
  const std::string text = TextLike(100000, 5);
  for (const std::string& input : {ZlibGzip(text), text}) {
    EXPECT_EQ(FeedInPieces(input, 4096, text.size() - 1).status, DecompressStatus::kTooLong);
    EXPECT_EQ(FeedInPieces(input, 4096, text.size()).status, DecompressStatus::kOk);
  }
}

}  // namespace

// A decoder set to any resume point an earlier one passed, with nothing but
// the output before it, decodes the rest of the input to the rest of the
// output: so a cut-off download keeps no compressed bytes it decoded.
TEST(GzipStreamDecoder, GoesOnFromEveryResumePoint) {
  const std::string text = TextLike(400000, 6);
  const std::string noise = RandomBytes(150000, 8);
  const struct Case {
    const char* name;
    std::string input;
  } cases[] = {
      {"compressed, then stored, then no member",
       ZlibGzip(text) + ZlibGzip(noise, Level(0)) + "tail"},
      {"fastest", ZlibGzip(text + noise, Level(1))},
      {"not gzip", noise},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string whole;
    DecompressSink keep = [&whole](const unsigned char* data, size_t length) {
      whole.append(reinterpret_cast<const char*>(data), length);
      return true;
    };
    GzipStreamDecoder first(keep, UINT64_MAX);
    std::vector<GzipResumePoint> points;
    for (size_t at = 0; at < c.input.size(); at += 5003) {
      ASSERT_EQ(first.Feed(c.input.data() + at, std::min<size_t>(5003, c.input.size() - at)),
                DecompressStatus::kOk);
      points.push_back(first.resume_point());
    }
    ASSERT_EQ(first.Finish(), DecompressStatus::kOk);
    size_t inside = 0;
    for (const GzipResumePoint& point : points) {
      SCOPED_TRACE("input " + std::to_string(point.input) + ", output " +
                   std::to_string(point.output));
      ASSERT_LE(point.output, whole.size());
      inside += point.input > 0 && point.input < c.input.size();
      std::string rest;
      DecompressSink more = [&rest](const unsigned char* data, size_t length) {
        rest.append(reinterpret_cast<const char*>(data), length);
        return true;
      };
      GzipStreamDecoder again(more, UINT64_MAX);
      ASSERT_TRUE(again.ResumeAt(point, reinterpret_cast<const unsigned char*>(whole.data()),
                                 static_cast<size_t>(point.output)));
      ASSERT_EQ(again.Feed(c.input.data() + point.input, c.input.size() - point.input),
                DecompressStatus::kOk);
      ASSERT_EQ(again.Finish(), DecompressStatus::kOk);
      EXPECT_TRUE(rest == whole.substr(static_cast<size_t>(point.output)));
    }
    // The points lie all along the input, not only at its ends.
    EXPECT_GT(inside, points.size() / 2);
  }
}

namespace {

// What one feed of the whole input gives, fed instead as pieces cut at the
// given places.
Outcome FeedCut(const std::string& input, const std::vector<size_t>& cuts) {
  Outcome outcome{DecompressStatus::kOk, ""};
  DecompressSink sink = [&outcome](const unsigned char* data, size_t length) {
    outcome.output.append(reinterpret_cast<const char*>(data), length);
    return true;
  };
  GzipStreamDecoder decoder(sink, UINT64_MAX);
  size_t from = 0;
  std::vector<size_t> ends = cuts;
  ends.push_back(input.size());
  for (size_t end : ends) {
    if (outcome.status != DecompressStatus::kOk) break;
    outcome.status = decoder.Feed(input.data() + from, end - from);
    from = end;
  }
  if (outcome.status == DecompressStatus::kOk) outcome.status = decoder.Finish();
  return outcome;
}

}  // namespace

// The decoder stops between two codes (or inside a header, a stored block
// or a trailer) wherever the input runs out and goes on there: cut in two
// at every byte, or fed a byte at a time, every input gives the bytes and
// the verdict of the input fed whole, and zlib's.
TEST(GzipStreamDecoder, EveryCutGivesWhatZlibReads) {
  const std::string text = TextLike(5000, 12);
  const std::string noise = RandomBytes(3000, 13);
  testing_support::ZlibGzipOptions every_field;
  every_field.name = "name.txt";
  every_field.comment = "a comment";
  every_field.extra = std::string("AB\x03\x00xyz", 7);
  every_field.header_crc = true;
  const struct Case {
    const char* name;
    std::string input;
    std::string output;
  } cases[] = {
      {"an empty file", ZlibGzip(""), ""},
      {"stored", ZlibGzip(noise, Level(0)), noise},
      {"fixed codes", ZlibGzip("abcabcabcabc-abc", Level(1)), "abcabcabcabc-abc"},
      {"dynamic codes", ZlibGzip(text), text},
      {"every header field", ZlibGzip(text, every_field), text},
      {"members, an empty one among them, then bytes that are none",
       ZlibGzip(text.substr(0, 700)) + ZlibGzip("") + ZlibGzip(noise.substr(0, 300), Level(0)) +
           "junk",
       text.substr(0, 700) + noise.substr(0, 300)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string by_zlib;
    if (c.input.find("junk") == std::string::npos) {
      ASSERT_TRUE(testing_support::ZlibGunzip(c.input, &by_zlib));
      ASSERT_TRUE(by_zlib == c.output);
    }
    for (size_t cut = 0; cut <= c.input.size(); ++cut) {
      Outcome outcome = FeedCut(c.input, {cut});
      ASSERT_EQ(outcome.status, DecompressStatus::kOk) << "cut at " << cut;
      ASSERT_TRUE(outcome.output == c.output) << "cut at " << cut;
    }
    Outcome bytewise = FeedInPieces(c.input, 1);
    EXPECT_EQ(bytewise.status, DecompressStatus::kOk);
    EXPECT_TRUE(bytewise.output == c.output);
  }
}

// Whatever zlib refuses is refused however the input arrives, each with the
// status the update engine tells apart.
TEST(GzipStreamDecoder, RefusesWhatZlibRefuses) {
  const std::string text = TextLike(20000, 14);
  testing_support::ZlibGzipOptions with_crc;
  with_crc.name = "n";
  with_crc.header_crc = true;
  const std::string member = ZlibGzip(text, with_crc);
  const size_t header = 10 + 2 + 2;  // with the name "n" and the header CRC
  auto changed = [&member](size_t at, unsigned char mask) {
    std::string bytes = member;
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
  };
  const size_t trailer = member.size() - 8;
  const struct Case {
    const char* name;
    std::string input;
    DecompressStatus status;
  } cases[] = {
      {"a method other than deflate", changed(2, 0x0f), DecompressStatus::kCorrupt},
      {"a reserved flag", changed(3, 0x80), DecompressStatus::kCorrupt},
      {"the header CRC wrong", changed(header - 1, 0x01), DecompressStatus::kCorrupt},
      {"a block of type 3", member.substr(0, header) + "\x07" + std::string(20, '\0'),
       DecompressStatus::kCorrupt},
      {"the data's CRC wrong", changed(trailer, 0x01), DecompressStatus::kCorrupt},
      {"a length larger than the data", changed(trailer + 4, 0x01), DecompressStatus::kCorrupt},
      {"data beyond its length", changed(trailer + 4, 0x20), DecompressStatus::kBeyondTrailer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string ignored;
    EXPECT_FALSE(testing_support::ZlibGunzip(c.input, &ignored));
    for (size_t piece : {size_t{1}, size_t{13}, size_t{4096}, size_t{1} << 20}) {
      EXPECT_EQ(FeedInPieces(c.input, piece).status, c.status) << "pieces of " << piece;
    }
  }
  // Cut off anywhere past its magic, a member is refused.
  for (size_t end = 2; end < member.size(); ++end) {
    ASSERT_EQ(FeedCut(member.substr(0, end), {end / 2}).status, DecompressStatus::kCorrupt)
        << "cut off after " << end << " bytes";
  }
}

// A cut-off download's resume record may have been written by an earlier
// filedist, whose decoder was zlib's inflate: its points inside a member
// are the block boundaries zlib reports, as resume records store them (mode
// 2, the bits of the last byte not yet decoded and that byte). Each is taken
// up as the decoder's own.
TEST(GzipStreamDecoder, TakesUpThePointsZlibGave) {
  const std::string plain = TextLike(200000, 15) + RandomBytes(40000, 16) + TextLike(90000, 17);
  const std::string input = ZlibGzip(plain, Level(9));
  z_stream z{};
  ASSERT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
  std::string output(plain.size() + 1, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = reinterpret_cast<Bytef*>(&output[0]);
  z.avail_out = static_cast<uInt>(output.size());
  std::vector<GzipResumePoint> points;
  int result = Z_OK;
  while (result == Z_OK) {
    result = inflate(&z, Z_BLOCK);
    // After a block that is not the last: a boundary.
    if (result == Z_OK && (z.data_type & 128) != 0 && (z.data_type & 64) == 0) {
      GzipResumePoint point;
      point.input = z.total_in;
      point.output = z.total_out;
      point.mode = 2;
      point.bits = z.data_type & 7;
      point.byte = point.bits != 0 ? static_cast<unsigned char>(input[z.total_in - 1]) : 0;
      points.push_back(point);
    }
  }
  inflateEnd(&z);
  ASSERT_EQ(result, Z_STREAM_END);
  ASSERT_GE(points.size(), 4u);  // after the header, and after each block but the last
  for (const GzipResumePoint& point : points) {
    SCOPED_TRACE("input " + std::to_string(point.input) + ", bits " + std::to_string(point.bits));
    std::string rest;
    DecompressSink more = [&rest](const unsigned char* data, size_t length) {
      rest.append(reinterpret_cast<const char*>(data), length);
      return true;
    };
    GzipStreamDecoder again(more, UINT64_MAX);
    ASSERT_TRUE(again.ResumeAt(point, reinterpret_cast<const unsigned char*>(plain.data()),
                               static_cast<size_t>(point.output)));
    ASSERT_EQ(again.Feed(input.data() + point.input, input.size() - point.input),
              DecompressStatus::kOk);
    ASSERT_EQ(again.Finish(), DecompressStatus::kOk);
    EXPECT_TRUE(rest == plain.substr(static_cast<size_t>(point.output)));
  }
}

namespace {

// A sink that lends the decoder places to decode into, as the update
// engine's ring does: pieces of a given size, two in turn, each scribbled
// over before it is lent again, so that a window not carried along to the
// next place, or output not made in place, shows.
class LendingSink {
 public:
  explicit LendingSink(size_t piece) : piece_(piece) {
    for (std::vector<unsigned char>& memory : memory_) {
      memory.assign(kDecodeRoomBefore + piece + kDecodeRoomAfter, 0xa5);
    }
  }
  DecompressSink Sink() {
    return [this](const unsigned char* data, size_t length) {
      output.append(reinterpret_cast<const char*>(data), length);
      if (data != Place() || length > piece_ + kDecodeRoomAfter - filled_) {
        copied += length;
      } else if ((filled_ += length) >= piece_) {
        current_ ^= 1;
        filled_ = 0;
        std::fill(memory_[current_].begin(), memory_[current_].end(), 0xa5);
      }
      return true;
    };
  }
  DecompressRoom Room() {
    return [this](size_t* size) {
      *size = piece_ - filled_;
      return Place();
    };
  }

  std::string output;
  size_t copied = 0;  // output handed on from anywhere else

 private:
  unsigned char* Place() { return memory_[current_].data() + kDecodeRoomBefore + filled_; }

  const size_t piece_;
  std::vector<unsigned char> memory_[2];
  int current_ = 0;
  size_t filled_ = 0;
};

}  // namespace

// Lent places, the decoder decodes into them, however the input and the
// places are cut, from the start or from a resume point, and gives zlib's
// bytes.
TEST(GzipStreamDecoder, DecodesIntoLentPlaces) {
  const std::string text = TextLike(300000, 18);
  const std::string noise = RandomBytes(90000, 19);
  const std::string input = ZlibGzip(text) + ZlibGzip(noise, Level(0)) + ZlibGzip(text, Level(1));
  const std::string whole = text + noise + text;
  for (size_t place : {size_t{1}, size_t{1000}, size_t{70001}}) {
    for (size_t piece : {size_t{3}, size_t{4093}, size_t{65536}}) {
      SCOPED_TRACE("places of " + std::to_string(place) + ", pieces of " + std::to_string(piece));
      LendingSink lending(place);
      DecompressSink sink = lending.Sink();
      GzipStreamDecoder decoder(sink, UINT64_MAX, lending.Room());
      GzipResumePoint middle;
      DecompressStatus status = DecompressStatus::kOk;
      for (size_t at = 0; at < input.size() && status == DecompressStatus::kOk; at += piece) {
        status = decoder.Feed(input.data() + at, std::min(piece, input.size() - at));
        if (decoder.resume_point().output < whole.size() / 2) middle = decoder.resume_point();
      }
      ASSERT_EQ(status, DecompressStatus::kOk);
      ASSERT_EQ(decoder.Finish(), DecompressStatus::kOk);
      EXPECT_TRUE(lending.output == whole);
      EXPECT_EQ(lending.copied, 0u);

      ASSERT_GT(middle.output, 0u);
      LendingSink rest(place);
      DecompressSink rest_sink = rest.Sink();
      GzipStreamDecoder again(rest_sink, UINT64_MAX, rest.Room());
      ASSERT_TRUE(again.ResumeAt(middle, reinterpret_cast<const unsigned char*>(whole.data()),
                                 static_cast<size_t>(middle.output)));
      ASSERT_EQ(again.Feed(input.data() + middle.input, input.size() - middle.input),
                DecompressStatus::kOk);
      ASSERT_EQ(again.Finish(), DecompressStatus::kOk);
      EXPECT_TRUE(rest.output == whole.substr(static_cast<size_t>(middle.output)));
    }
  }
}

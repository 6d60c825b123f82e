// The decoder a download is fed through as it arrives: whatever pieces the
// network cuts the body into, the output is what zlib wrote the members
// from, and a damaged or cut-off body is refused.
#include <gtest/gtest.h>

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

// CUnzip against archives made by independent writers (the gzip and zip
// programs, zlib) and against damaged and hand-made inputs.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunCUnzip;
using testing_support::ScratchDir;
using testing_support::SwapOutcome;
using testing_support::WriteFileBytes;
using testing_support::ZipDataFile;
using testing_support::ZlibGzip;
using testing_support::ZlibGzipOptions;

const char kAbortText[] = "problem with zipping/unzipping operation : 1";

class GzipDecompressor : public ::testing::Test {
 protected:
  // Writes bytes to a source file, expands it into a fresh destination and
  // returns the outcome; the destination's bytes land in *output.
  SwapOutcome Expand(const std::string& bytes, std::string* output = nullptr) {
    std::string source = dir_.Sub("in" + std::to_string(count_));
    std::string destination = dir_.Sub("out" + std::to_string(count_++));
    WriteFileBytes(source, bytes);
    SwapOutcome outcome = RunCUnzip(source, destination);
    if (output != nullptr) *output = ReadFileBytes(destination);
    return outcome;
  }

  void ExpectExpands(const std::string& bytes, const std::string& expected,
                     const std::string& what) {
    std::string output;
    SwapOutcome outcome = Expand(bytes, &output);
    EXPECT_FALSE(outcome.threw) << what << ": " << outcome.stderr_text;
    EXPECT_EQ(outcome.result, 0) << what << ": " << outcome.stderr_text;
    EXPECT_TRUE(output == expected)
        << what << ": " << output.size() << " bytes, expected " << expected.size();
  }

  // The run must fail with the abort step and name `text` on standard error.
  void ExpectAbort(const std::string& bytes, const std::string& text, const std::string& what) {
    SwapOutcome outcome = Expand(bytes);
    EXPECT_TRUE(outcome.threw) << what;
    EXPECT_EQ(outcome.exception, kAbortText) << what;
    EXPECT_NE(outcome.stderr_text.find(text), std::string::npos)
        << what << ": " << outcome.stderr_text;
  }

  // The detection must refuse the input with -1 and exactly `message`.
  void ExpectRefusal(const std::string& bytes, const std::string& message,
                     const std::string& what) {
    SwapOutcome outcome = Expand(bytes);
    EXPECT_FALSE(outcome.threw) << what;
    EXPECT_EQ(outcome.result, -1) << what;
    EXPECT_EQ(outcome.stderr_text, message) << what;
  }

  std::string InputName() const { return dir_.Sub("in" + std::to_string(count_)); }

  ScratchDir dir_;
  int count_ = 0;
};

std::string Sample() { return ReadFileBytes(ZipDataFile("sample.bin")); }

TEST_F(GzipDecompressor, ExpandsWhatTheGzipProgramWroteAtEveryLevel) {
  const std::string sample = Sample();
  for (const char* name :
       {"sample_1.gz", "sample_2.gz", "sample_3.gz", "sample_4.gz", "sample_5.gz", "sample_6.gz",
        "sample_7.gz", "sample_8.gz", "sample_9.gz", "sample_noname.gz"}) {
    ExpectExpands(ReadFileBytes(ZipDataFile(name)), sample, name);
  }
}

TEST_F(GzipDecompressor, ExpandsTheFirstEntryOfZipArchives) {
  const std::string sample = Sample();
  ExpectExpands(ReadFileBytes(ZipDataFile("stored.zip")), sample, "stored.zip");
  ExpectExpands(ReadFileBytes(ZipDataFile("deflated.zip")), sample, "deflated.zip");
  // The check values come from the data descriptor after the data.
  ExpectExpands(ReadFileBytes(ZipDataFile("streamed.zip")), sample, "streamed.zip");
}

TEST_F(GzipDecompressor, ZipWithSecondEntryWritesTheFirstAndReturnsMinusOne) {
  std::string output;
  SwapOutcome outcome = Expand(ReadFileBytes(ZipDataFile("two_entries.zip")), &output);
  EXPECT_FALSE(outcome.threw);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_TRUE(output == Sample());
  EXPECT_EQ(outcome.stderr_text,
            "filedist: " + dir_.Sub("in0") + " has more than one entry -- unchanged\n");
}

TEST_F(GzipDecompressor, ExpandsZlibMembersWithEveryOptionalField) {
  const std::string data =
      testing_support::TextLike(100000, 1) + testing_support::RandomBytes(5000, 2);
  struct Case {
    const char* what;
    ZlibGzipOptions options;
  };
  std::vector<Case> cases;
  for (int level = 0; level <= 9; ++level) {
    ZlibGzipOptions options;
    options.level = level;
    cases.push_back({"level", options});
  }
  ZlibGzipOptions all;
  all.name = "name.txt";
  all.comment = "a comment";
  all.extra = std::string("AB\x04\x00wxyz", 8);
  all.text_flag = true;  // bit 0x01 changes nothing
  cases.push_back({"name, comment, extra, text", all});
  ZlibGzipOptions empty_extra;
  empty_extra.extra = std::string(1, '\0');
  empty_extra.extra.clear();
  cases.push_back({"empty extra", empty_extra});
  for (const Case& c : cases) {
    ExpectExpands(ZlibGzip(data, c.options), data,
                  std::string(c.what) + " " + std::to_string(c.options.level));
  }
  // A zero-length extra field skips nothing.
  std::string member = ZlibGzip(data);
  member[3] = 0x04;
  member.insert(10, std::string(2, '\0'));
  ExpectExpands(member, data, "extra field of length 0");
}

TEST_F(GzipDecompressor, SecondIdentifierAndConcatenatedMembers) {
  const std::string data = testing_support::TextLike(3000, 3);
  std::string member = ZlibGzip(data);
  std::string other = member;
  other[1] = static_cast<char>(0x9e);
  ExpectExpands(other, data, "identifier 1f 9e");
  // Only the first member is decoded; the second is left alone.
  ExpectExpands(member + ZlibGzip("something else"), data, "two members");
}

TEST_F(GzipDecompressor, RefusesHeadersWithTheirMessages) {
  const std::string member = ZlibGzip("data");
  struct Case {
    int offset;
    int value;
    const char* message;  // after "filedist: NAME"
  };
  const Case cases[] = {
      {2, 7, ": unknown method 7 -- get newer version of gzip\n"},
      {3, 0x20, " is encrypted -- get newer version of gzip\n"},
      {3, 0x02, " is a a multi-part gzip file -- get newer version of gzip\n"},
      // The checks run in the order 0x20, 0x02, 0xC0; the first that applies wins.
      {3, 0x42, " is a a multi-part gzip file -- get newer version of gzip\n"},
      {3, 0x60, " is encrypted -- get newer version of gzip\n"},
      {3, 0x80, " has flags 0x80 -- get newer version of gzip\n"},
      {3, 0x48, " has flags 0x48 -- get newer version of gzip\n"},
  };
  for (const Case& c : cases) {
    std::string bytes = member;
    bytes[c.offset] = static_cast<char>(c.value);
    ExpectRefusal(bytes, "filedist: " + InputName() + c.message, c.message);
  }
  ExpectRefusal("plain text, not compressed",
                "\nfiledist: " + InputName() + ": not in gzip format\n", "text");
  // zlib's header CRC uses the flag bit that this format reads as multi-part.
  ZlibGzipOptions hcrc;
  hcrc.header_crc = true;
  ExpectRefusal(
      ZlibGzip("data", hcrc),
      "filedist: " + InputName() + " is a a multi-part gzip file -- get newer version of gzip\n",
      "header crc");
}

TEST_F(GzipDecompressor, RefusesZipArchivesItCannotRead) {
  const std::string zip = ReadFileBytes(ZipDataFile("deflated.zip"));
  struct Case {
    const char* what;
    int offset;
    int value;
    const char* message;
  };
  const Case cases[] = {
      {"method 12", 8, 12, ": first entry not deflated or stored -- use unzip\n"},
      {"encrypted", 6, 1, ": encrypted file -- use unzip\n"},
      {"name past the first buffer", 27, 0xff, ": not a valid zip file\n"},
  };
  for (const Case& c : cases) {
    std::string bytes = zip;
    bytes[c.offset] = static_cast<char>(c.value);
    if (c.offset == 27) bytes[29] = static_cast<char>(0xff);
    ExpectRefusal(bytes, "\nfiledist: " + InputName() + c.message, c.what);
  }
  ExpectRefusal(std::string("PK\x03\x04", 4) + "short",
                "\nfiledist: " + InputName() + ": not a valid zip file\n", "header cut short");
  // "PK" without the local header signature is no zip archive at all.
  ExpectRefusal("PKZIP text", "\nfiledist: " + InputName() + ": not in gzip format\n", "PK text");
}

TEST_F(GzipDecompressor, ZipEntriesAreChecked) {
  std::string stored = ReadFileBytes(ZipDataFile("stored.zip"));
  std::string wrong_size = stored;
  wrong_size[18] = 0x01;  // compressed size 18002 -> 17921
  SwapOutcome outcome = Expand(wrong_size);
  EXPECT_TRUE(outcome.threw);
  EXPECT_EQ(outcome.stderr_text, "len 18002, siz 17921\n\nfiledist: " + dir_.Sub("in0") +
                                     ": invalid compressed data--length mismatch\n");

  std::string wrong_crc = stored;
  wrong_crc[14] ^= 0x40;
  ExpectAbort(wrong_crc, ": invalid compressed data--crc error\n", "stored entry, header CRC");

  // With a data descriptor the header's zero CRC is not used; the
  // descriptor's is (it sits 12 bytes before the central directory).
  std::string streamed = ReadFileBytes(ZipDataFile("streamed.zip"));
  size_t central = streamed.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  streamed[central - 12] ^= 0x01;
  ExpectAbort(streamed, ": invalid compressed data--crc error\n", "descriptor CRC");
}

TEST_F(GzipDecompressor, RecognisedButUndecodedFormatsAbort) {
  for (int second : {0x9d, 0x1e, 0xa0}) {
    std::string bytes = "\x1f";
    bytes += static_cast<char>(second);
    bytes += "some data";
    ExpectAbort(bytes, ": internal error, invalid method\n", std::to_string(second));
  }
}

TEST_F(GzipDecompressor, EmptyOrOneByteSourceIsAnUnexpectedEnd) {
  ExpectAbort("", ": unexpected end of file\n", "empty");
  ExpectAbort("\x1f", ": unexpected end of file\n", "one byte");
}

TEST_F(GzipDecompressor, ChecksCrcAndLengthAfterWritingEverything) {
  const std::string data = testing_support::TextLike(70000, 4);
  std::string member = ZlibGzip(data);
  std::string bad_crc = member;
  bad_crc[member.size() - 8] ^= 1;
  std::string output;
  SwapOutcome outcome = Expand(bad_crc, &output);
  EXPECT_TRUE(outcome.threw);
  EXPECT_NE(outcome.stderr_text.find(": invalid compressed data--crc error\n"), std::string::npos);
  EXPECT_TRUE(output == data) << "all the data is written before the check";

  std::string bad_length = member;
  bad_length[member.size() - 4] ^= 1;
  ExpectAbort(bad_length, ": invalid compressed data--length error\n", "length");
}

TEST_F(GzipDecompressor, EveryTruncationOfAMemberAborts) {
  ZlibGzipOptions named;
  named.name = "n.txt";
  const std::string member =
      ZlibGzip(testing_support::TextLike(600, 5) + std::string(300, 'z'), named);
  for (size_t cut = 0; cut < member.size(); ++cut) {
    SwapOutcome outcome = Expand(member.substr(0, cut));
    EXPECT_TRUE(outcome.threw) << "cut at " << cut;
    EXPECT_NE(outcome.stderr_text.find("unexpected end of file"), std::string::npos)
        << "cut at " << cut;
  }
}

// Deflate bits written by hand: fields least significant bit first,
// Huffman codes most significant bit first (RFC 1951, 3.1.1).
class BitPacker {
 public:
  BitPacker& Bits(unsigned value, int count) {
    for (int i = 0; i < count; ++i) Push((value >> i) & 1);
    return *this;
  }
  BitPacker& Code(unsigned code, int count) {
    for (int i = count - 1; i >= 0; --i) Push((code >> i) & 1);
    return *this;
  }
  BitPacker& Byte(unsigned value) {
    while (used_ != 0) Push(0);
    bytes_.push_back(static_cast<char>(value));
    return *this;
  }
  std::string Done() const { return bytes_; }

 private:
  void Push(unsigned bit) {
    if (used_ == 0) bytes_.push_back('\0');
    bytes_.back() = static_cast<char>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) & 7;
  }
  std::string bytes_;
  int used_ = 0;
};

// A gzip member around hand-made deflate data; the trailer is right for
// `expected`.
std::string Member(const std::string& deflate_data, const std::string& expected = "") {
  uLong crc =
      crc32(0, reinterpret_cast<const Bytef*>(expected.data()), static_cast<uInt>(expected.size()));
  std::string trailer;
  for (int i = 0; i < 4; ++i) trailer += static_cast<char>((crc >> (8 * i)) & 0xff);
  for (int i = 0; i < 4; ++i) trailer += static_cast<char>((expected.size() >> (8 * i)) & 0xff);
  return std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) + deflate_data + trailer;
}

TEST_F(GzipDecompressor, MalformedDeflateDataIsAFormatViolation) {
  struct Case {
    const char* what;
    std::string data;
  };
  const Case cases[] = {
      {"block type 3", BitPacker().Bits(1, 1).Bits(3, 2).Done()},
      {"stored length and complement disagree",
       BitPacker().Bits(1, 1).Bits(0, 2).Byte(5).Byte(0).Byte(0xfa).Byte(0xfe).Done() + "hello"},
      // Fixed block: length 3 at distance 1 with nothing decoded before.
      {"distance before the start",
       BitPacker().Bits(1, 1).Bits(1, 2).Code(1, 7).Code(0, 5).Code(0, 7).Done()},
      {"distance 2 after one byte", BitPacker()
                                        .Bits(1, 1)
                                        .Bits(1, 2)
                                        .Code(0x30 + 'a', 8)
                                        .Code(1, 7)
                                        .Code(1, 5)
                                        .Code(0, 7)
                                        .Done()},
      {"distance code 30",
       BitPacker().Bits(1, 1).Bits(1, 2).Code(0x30 + 'a', 8).Code(1, 7).Code(30, 5).Done()},
      {"length code 286",
       BitPacker().Bits(1, 1).Bits(1, 2).Code(0xc0 + 286 - 280, 8).Code(0, 5).Done()},
      {"287 literal/length codes",
       BitPacker().Bits(1, 1).Bits(2, 2).Bits(30, 5).Bits(0, 5).Bits(0, 4).Done()},
      {"over-subscribed code-length code", BitPacker()
                                               .Bits(1, 1)
                                               .Bits(2, 2)
                                               .Bits(0, 5)
                                               .Bits(0, 5)
                                               .Bits(0, 4)
                                               .Bits(1, 3)
                                               .Bits(1, 3)
                                               .Bits(1, 3)
                                               .Bits(1, 3)
                                               .Done()},
      // Code lengths 0 and 18 of one bit each; 18 (138 zeros) twice is more
      // than the 257 + 1 lengths announced.
      {"code lengths past the end", BitPacker()
                                        .Bits(1, 1)
                                        .Bits(2, 2)
                                        .Bits(0, 5)
                                        .Bits(0, 5)
                                        .Bits(0, 4)
                                        .Bits(0, 3)
                                        .Bits(0, 3)
                                        .Bits(1, 3)
                                        .Bits(1, 3)
                                        .Code(1, 1)
                                        .Bits(127, 7)
                                        .Code(1, 1)
                                        .Bits(127, 7)
                                        .Done()},
      // Code lengths 16 and 0; 16 (repeat the previous length) comes first.
      {"repeat with nothing before", BitPacker()
                                         .Bits(1, 1)
                                         .Bits(2, 2)
                                         .Bits(0, 5)
                                         .Bits(0, 5)
                                         .Bits(0, 4)
                                         .Bits(1, 3)
                                         .Bits(0, 3)
                                         .Bits(0, 3)
                                         .Bits(1, 3)
                                         .Code(1, 1)
                                         .Bits(0, 2)
                                         .Done()},
  };
  for (const Case& c : cases) {
    ExpectAbort(Member(c.data), ": invalid compressed data--format violated\n", c.what);
  }
}

TEST_F(GzipDecompressor, HandMadeStoredAndFixedBlocks) {
  // Stored "hi" (not final), then a fixed final block: 'a', length 3 at
  // distance 1, 'b', end of block.
  std::string data =
      BitPacker().Bits(0, 1).Bits(0, 2).Byte(2).Byte(0).Byte(0xfd).Byte(0xff).Done() + "hi" +
      BitPacker()
          .Bits(1, 1)
          .Bits(1, 2)
          .Code(0x30 + 'a', 8)
          .Code(1, 7)
          .Code(0, 5)
          .Code(0x30 + 'b', 8)
          .Code(0, 7)
          .Done();
  ExpectExpands(Member(data, "hiaaaab"), "hiaaaab", "hand-made blocks");
  // A stored block's length must match the bytes that follow: cut short,
  // the run runs out of input.
  ExpectAbort(
      Member(BitPacker().Bits(1, 1).Bits(0, 2).Byte(200).Byte(0).Byte(55).Byte(0xff).Done() +
             "abc"),
      "unexpected end of file", "stored block longer than the input");
}

// Damaged streams must fail cleanly, never read or write out of bounds (the
// sanitizer build checks that), and never report a wrong result as success.
TEST_F(GzipDecompressor, DamagedStreamsFailCleanly) {
  const std::string data =
      testing_support::TextLike(20000, 6) + testing_support::RandomBytes(3000, 7);
  const std::string member = ZlibGzip(data);
  std::mt19937 random(8);
  int failures = 0;
  for (int round = 0; round < 400; ++round) {
    std::string bytes = member;
    int flips = 1 + static_cast<int>(random() % 4);
    for (int f = 0; f < flips; ++f) {
      size_t at = 10 + random() % (bytes.size() - 18);
      bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
    }
    std::string output;
    SwapOutcome outcome = Expand(bytes, &output);
    if (outcome.threw) {
      ++failures;
      EXPECT_EQ(outcome.exception, kAbortText);
    } else {
      EXPECT_EQ(outcome.result, 0);
      EXPECT_TRUE(output == data) << "round " << round << " succeeded with different data";
    }
  }
  EXPECT_GT(failures, 300);
}

}  // namespace

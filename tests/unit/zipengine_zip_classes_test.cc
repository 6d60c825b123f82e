// The exported classes: SwapSize's results, copies and assignments,
// CZipException, and the engine state between runs.
#include "zip_classes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/gzip_oracle.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::OtherName;
using testing_support::OtherNamesOf;
using testing_support::ReadFileBytes;
using testing_support::RunCUnzip;
using testing_support::RunCZip;
using testing_support::ScratchDir;
using testing_support::SwapOutcome;
using testing_support::WriteFileBytes;

// Opens the protected fields for inspection.
class ZipProbe : public CZip {
 public:
  explicit ZipProbe(const CZip& other) : CZip(other) {}
  const char* Operation() const { return m_operation; }
  const char* Source() const { return m_source; }
};

class UnzipProbe : public CUnzip {
 public:
  explicit UnzipProbe(const CUnzip& other) : CUnzip(other) {}
  const char* Operation() const { return m_operation; }
  const char* Source() const { return m_source; }
};

TEST(ZipClasses, SwapSizeResultsForNamesAndFiles) {
  ScratchDir dir;
  std::string source = dir.Sub("a.txt");
  WriteFileBytes(source, "content");

  // The source's own name: nothing is opened or changed.
  EXPECT_EQ(RunCZip(source, source).result, -10);
  EXPECT_EQ(RunCUnzip(source, source).result, -10);
  EXPECT_EQ(ReadFileBytes(source), "content");

  // A missing source creates no destination.
  EXPECT_EQ(RunCZip(dir.Sub("missing.txt"), dir.Sub("out.gz")).result, -11);
  EXPECT_EQ(RunCUnzip(dir.Sub("missing.gz"), dir.Sub("out.txt")).result, -11);
  EXPECT_FALSE(FileExists(dir.Sub("out.gz")));
  EXPECT_FALSE(FileExists(dir.Sub("out.txt")));

  // A destination in a missing directory.
  EXPECT_EQ(RunCZip(source, dir.Sub("no/such/dir/out.gz")).result, -12);
  EXPECT_EQ(RunCUnzip(source, dir.Sub("no/such/dir/out.txt")).result, -12);
}

// One file under two names: a run would empty the file it reads, or read
// back its own output without end.
TEST(ZipClasses, SameFileUnderAnotherNameIsRefused) {
  ScratchDir dir;
  const std::string text = testing_support::TextLike(5000, 82);
  const std::string member = testing_support::ZlibGzip(text);
  std::string plain = dir.Sub("plain.txt");
  std::string packed = dir.Sub("packed.gz");
  WriteFileBytes(plain, text);
  WriteFileBytes(packed, member);
  for (const OtherName& name : OtherNamesOf(plain)) {
    EXPECT_EQ(RunCZip(plain, name.path).result, -10) << name.kind;
    EXPECT_TRUE(ReadFileBytes(plain) == text) << name.kind;
  }
  for (const OtherName& name : OtherNamesOf(packed)) {
    SwapOutcome outcome = RunCUnzip(packed, name.path);
    EXPECT_FALSE(outcome.threw) << name.kind;
    EXPECT_EQ(outcome.result, -10) << name.kind;
    EXPECT_TRUE(ReadFileBytes(packed) == member) << name.kind;
  }
}

TEST(ZipClasses, NamesTooLongForTheFieldsAreRefused) {
  ScratchDir dir;
  std::string long_name = dir.Sub(std::string(600, 'n'));
  EXPECT_EQ(RunCUnzip(long_name, dir.Sub("out")).result, -11);
  // A CZip name also goes into the engine's 260-byte field.
  std::string medium = dir.Sub(std::string(300 - dir.path().size(), 'm'));
  ASSERT_GE(medium.size(), 260u);
  EXPECT_EQ(RunCZip(medium, dir.Sub("out.gz")).result, -11);
  EXPECT_FALSE(FileExists(dir.Sub("out.gz")));
}

TEST(ZipClasses, CopiesKeepTheirOperationAndAssignmentKeepsTheClass) {
  CZip zip("source.bin");
  ZipProbe zip_copy(zip);
  EXPECT_STREQ(zip_copy.Operation(), "zipping");
  EXPECT_STREQ(zip_copy.Source(), "source.bin");
  CUnzip unzip("packed.gz");
  UnzipProbe unzip_copy(unzip);
  EXPECT_STREQ(unzip_copy.Operation(), "unzipping");
  EXPECT_STREQ(unzip_copy.Source(), "packed.gz");

  CZip other("other.bin");
  static_cast<CZip&>(zip_copy) = other;
  EXPECT_STREQ(zip_copy.Source(), "other.bin");
  EXPECT_STREQ(zip_copy.Operation(), "zipping");

  // Assigning through the base copies the name and the operation name, but
  // the object still runs its own HardWork: a CZip keeps compressing.
  ScratchDir dir;
  std::string plain = dir.Sub("plain.txt");
  WriteFileBytes(plain, "some plain text");
  CZip compressor(dir.Sub("unused").c_str());
  CUnzip reader(plain.c_str());
  static_cast<CMamaZip&>(compressor) = reader;
  ZipProbe after(compressor);
  EXPECT_STREQ(after.Operation(), "unzipping");
  ASSERT_EQ(compressor.SwapSize(dir.Sub("plain.gz").c_str()), 0);
  std::string expanded;
  EXPECT_TRUE(testing_support::ZlibGunzip(ReadFileBytes(dir.Sub("plain.gz")), &expanded));
  EXPECT_EQ(expanded, "some plain text");
}

TEST(ZipClasses, ExceptionTextIsBounded) {
  CZipException error("problem with zipping/unzipping operation : %d", 1);
  EXPECT_STREQ(error.GetString(), "problem with zipping/unzipping operation : 1");
  CZipException copy("");
  copy = error;
  EXPECT_STREQ(copy.GetString(), "problem with zipping/unzipping operation : 1");
  std::string wide(500, 'w');
  CZipException cut("%s", wide.c_str());
  EXPECT_EQ(std::strlen(cut.GetString()), 127u);
}

TEST(ZipClasses, FailureThrowsWithBothFilesClosed) {
  ScratchDir dir;
  std::string source = dir.Sub("bad.gz");
  std::string destination = dir.Sub("bad.out");
  WriteFileBytes(source, std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03\x07", 11));
  SwapOutcome outcome = RunCUnzip(source, destination);
  ASSERT_TRUE(outcome.threw);
  EXPECT_EQ(outcome.exception, "problem with zipping/unzipping operation : 1");
  // Closed files can be removed on every system (Windows refuses open ones).
  EXPECT_EQ(std::remove(source.c_str()), 0);
  EXPECT_EQ(std::remove(destination.c_str()), 0);
}

TEST(ZipClasses, ExistingDestinationIsReplacedUnlessTheInputIsRefused) {
  ScratchDir dir;
  std::string source = dir.Sub("short.txt");
  std::string packed = dir.Sub("short.gz");
  std::string expanded = dir.Sub("short.out");
  WriteFileBytes(source, "short");
  WriteFileBytes(packed, std::string(100000, 'o'));
  WriteFileBytes(expanded, std::string(100000, 'o'));
  ASSERT_EQ(RunCZip(source, packed).result, 0);
  std::string plain;
  EXPECT_TRUE(testing_support::ZlibGunzip(ReadFileBytes(packed), &plain))
      << "no old bytes after the member";
  ASSERT_EQ(RunCUnzip(packed, expanded).result, 0);
  EXPECT_EQ(ReadFileBytes(expanded), "short");

  // A refused input writes nothing: the destination stays as it was.
  std::string not_gzip = dir.Sub("not.gz");
  WriteFileBytes(not_gzip, "not compressed");
  EXPECT_EQ(RunCUnzip(not_gzip, expanded).result, -1);
  EXPECT_EQ(ReadFileBytes(expanded), "short");
}

// Runs start from empty buffers whatever the previous run left, aborted
// half-way or not, with the same objects or new ones.
TEST(ZipClasses, RunsAfterFailuresStartAfresh) {
  ScratchDir dir;
  const std::string data = testing_support::TextLike(90000, 80);
  std::string source = dir.Sub("data.txt");
  WriteFileBytes(source, data);
  std::string good = dir.Sub("good.gz");
  ASSERT_EQ(RunCZip(source, good).result, 0);
  std::string member = ReadFileBytes(good);
  std::string truncated = dir.Sub("truncated.gz");
  WriteFileBytes(truncated, member.substr(0, member.size() / 2));

  CUnzip good_reader(good.c_str());
  CUnzip bad_reader(truncated.c_str());
  for (int round = 0; round < 3; ++round) {
    std::string out = dir.Sub("out" + std::to_string(round));
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(bad_reader.SwapSize(out.c_str()), CZipException);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(good_reader.SwapSize(out.c_str()), 0);
    EXPECT_TRUE(ReadFileBytes(out) == data) << round;
    ASSERT_EQ(RunCZip(source, good).result, 0);
    EXPECT_TRUE(ReadFileBytes(good) == member) << "the same input gives the same output";
  }
}

// Every message begins with the program's name, and a run names its own
// source, whole, whatever CZip was constructed last.
TEST(ZipClasses, MessagesNameTheProgramAndTheRunsOwnSource) {
  ScratchDir dir;
  const std::string text = "plain text, no gzip";
  std::string unzip_source = dir.Sub("plain.txt");
  WriteFileBytes(unzip_source, text);
  CUnzip unzip(unzip_source.c_str());
  CZip later(dir.Sub("later.bin").c_str());  // made after the CUnzip, never run
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(unzip.SwapSize(dir.Sub("out").c_str()), -1);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\nfiledist: " + unzip_source + ": not in gzip format\n");

  // A compression stores its own source's name, not the last CZip's.
  CZip first(unzip_source.c_str());
  CZip second(dir.Sub("second.bin").c_str());
  ASSERT_EQ(first.SwapSize(dir.Sub("first.gz").c_str()), 0);
  std::string member = ReadFileBytes(dir.Sub("first.gz"));
  EXPECT_EQ(member.substr(10, 10), std::string("plain.txt\0", 10));

  // A CUnzip source longer than the header's name field is named in full.
  std::string deep = dir.path();
  while (deep.size() < 300) deep += testing_support::Sep() + std::string(40, 'd');
  testing_support::MakeDirs(deep);
  std::string long_source = deep + testing_support::Sep() + "cut.gz";
  WriteFileBytes(long_source, member.substr(0, member.size() / 2));
  ASSERT_LT(long_source.size(), 516u);
  SwapOutcome outcome = RunCUnzip(long_source, dir.Sub("cut.out"));
  if (outcome.result == -11) GTEST_SKIP() << "the system opens no path this long";
  EXPECT_TRUE(outcome.threw);
  EXPECT_EQ(outcome.stderr_text, "\nfiledist: " + long_source + ": unexpected end of file\n");
}

TEST(ZipClasses, WriteErrorThrows) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  ScratchDir dir;
  std::string source = dir.Sub("data.txt");
  WriteFileBytes(source, testing_support::RandomBytes(100000, 81));
  SwapOutcome outcome = RunCZip(source, "/dev/full");
  if (!outcome.threw && outcome.result == -12) GTEST_SKIP() << "/dev/full cannot be opened here";
  EXPECT_TRUE(outcome.threw);
  EXPECT_EQ(outcome.exception, "problem with zipping/unzipping operation : 1");
  EXPECT_NE(outcome.stderr_text.find("\nfiledist: "), std::string::npos) << outcome.stderr_text;
}

}  // namespace

// The resume record that a cut-off transfer leaves in the staging folder:
// its text is read back by a later run, perhaps of a later version, so the
// line is pinned here field by field, and whatever is not a whole record
// must read as none (the file is then fetched from the start).
#include "update/resume_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

update::ResumeRecord Record(uint64_t input, uint64_t output, int mode, int bits, int byte,
                            uint64_t kept) {
  update::ResumeRecord record;
  record.point.input = input;
  record.point.output = output;
  record.point.mode = mode;
  record.point.bits = bits;
  record.point.byte = byte;
  record.kept = kept;
  return record;
}

void ExpectSame(const update::ResumeRecord& a, const update::ResumeRecord& b) {
  EXPECT_EQ(a.point.input, b.point.input);
  EXPECT_EQ(a.point.output, b.point.output);
  EXPECT_EQ(a.point.mode, b.point.mode);
  EXPECT_EQ(a.point.bits, b.point.bits);
  EXPECT_EQ(a.point.byte, b.point.byte);
  EXPECT_EQ(a.kept, b.kept);
}

TEST(ResumeRecord, TheLineHasTheDocumentedFieldsInOrder) {
  // Catches a field moved, dropped or written in another base: a record
  // left by an earlier run would then set the decoder to a wrong point.
  EXPECT_EQ(update::FormatResumeRecord(Record(1000, 5000, 2, 3, 171, 77)),
            "filedist-resume 1 1000 5000 2 3 171 77\n");
}

TEST(ResumeRecord, WhatIsFormattedParsesBackTheSame) {
  const update::ResumeRecord cases[] = {
      Record(0, 0, 0, 0, 0, 0),
      Record(1, 32768, 1, 7, 255, 1),
      // Beyond 32 bits: files of several GiB resume too.
      Record(uint64_t{5} << 32, uint64_t{21} << 32, 4, 0, 0, uint64_t{64} << 20),
      Record(UINT64_MAX, UINT64_MAX, 5, 5, 128, UINT64_MAX),
  };
  for (const update::ResumeRecord& record : cases) {
    std::string text = update::FormatResumeRecord(record);
    SCOPED_TRACE(text);
    update::ResumeRecord parsed;
    ASSERT_TRUE(update::ParseResumeRecord(text, &parsed));
    ExpectSame(parsed, record);
  }
}

TEST(ResumeRecord, WhatIsNotAWholeRecordReadsAsNone) {
  struct Case {
    const char* name;
    std::string text;
  };
  const Case cases[] = {
      {"empty", ""},
      {"another version", "filedist-resume 2 1000 5000 2 3 171 77\n"},
      {"another format", "something-else 1 1000 5000 2 3 171 77\n"},
      {"no line end (torn write)", "filedist-resume 1 1000 5000 2 3 171 77"},
      {"a field missing", "filedist-resume 1 1000 5000 2 3 171\n"},
      {"a field that is no number", "filedist-resume 1 1000 x 2 3 171 77\n"},
      {"the name alone", "filedist-resume 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    update::ResumeRecord parsed;
    EXPECT_FALSE(update::ParseResumeRecord(c.text, &parsed));
  }
}

TEST(ResumeRecord, WrittenToAFileItReadsBackAndNeverOverwrites) {
  ScratchDir scratch;
  std::string path = scratch.Sub("key.resume");
  update::ResumeRecord record = Record(123456, 654321, 3, 2, 9, 4242);
  ASSERT_TRUE(update::WriteResumeRecord(path, record));
  EXPECT_EQ(ReadFileBytes(path), update::FormatResumeRecord(record));
  update::ResumeRecord read;
  ASSERT_TRUE(update::ReadResumeRecord(path, &read));
  ExpectSame(read, record);
  // A record is only ever written where none is: the writer removes the
  // old one first, so that no record names bytes that are not beside it.
  EXPECT_FALSE(update::WriteResumeRecord(path, Record(1, 1, 1, 1, 1, 1)));
  ASSERT_TRUE(update::ReadResumeRecord(path, &read));
  ExpectSame(read, record);

  EXPECT_FALSE(update::ReadResumeRecord(scratch.Sub("missing.resume"), &read));
  WriteFileBytes(scratch.Sub("torn.resume"), "filedist-resume 1 12 34");
  EXPECT_FALSE(update::ReadResumeRecord(scratch.Sub("torn.resume"), &read));
}

TEST(ResumeRecord, ALinkInPlaceOfTheRecordIsNotFollowed) {
  ScratchDir scratch;
  std::string target = scratch.Sub("elsewhere");
  WriteFileBytes(target, update::FormatResumeRecord(Record(10, 20, 1, 0, 0, 5)));
  std::error_code error;
  std::filesystem::create_symlink(target, scratch.Sub("key.resume"), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  update::ResumeRecord read;
  EXPECT_FALSE(update::ReadResumeRecord(scratch.Sub("key.resume"), &read));
}

}  // namespace

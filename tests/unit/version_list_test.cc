#include "version/version_list.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "common.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

VersionRecord Record(const std::string& path, const std::string& key, int32_t size) {
  VersionRecord record;
  record.path = path;
  record.key = key;
  record.size = size;
  return record;
}

VersionRecordList ReadText(const ScratchDir& scratch, const std::string& text, PathIndex* index) {
  std::string path = scratch.Sub("list.dat");
  WriteFileBytes(path, text);
  VersionRecordList records;
  EXPECT_TRUE(ReadVersionList(path.c_str(), &records, index));
  return records;
}

TEST(VersionListRead, LinesAreParsedFieldByField) {
  struct Case {
    const char* line;
    bool kept;
    const char* path;
    const char* key;
    int32_t size;
  };
  const Case cases[] = {
      {".\\bin\\app.exe,900150983cd24fb0d6963f7d28e17f72,23", true, ".\\bin\\app.exe",
       "900150983cd24fb0d6963f7d28e17f72", 23},
      {"a.txt,0123,12abc", true, "a.txt", "0123", 12},
      {"a.txt,0123,", true, "a.txt", "0123", 0},
      {"a.txt,0123", false, "", "", 0},
      {"no commas", false, "", "", 0},
      {",0123,5", true, "", "0123", 5},
      {"a.txt,0123,  -42", true, "a.txt", "0123", -42},
      {"a.txt,0123,+7,extra,fields", true, "a.txt", "0123", 7},
      {" spaced , KEY ,9", true, " spaced ", " KEY ", 9},
      {"big,k,99999999999", true, "big", "k", 2147483647},
      {"small,k,-99999999999", true, "small", "k", -2147483647 - 1},
  };
  for (const Case& c : cases) {
    ScratchDir scratch;
    PathIndex index;
    VersionRecordList records = ReadText(scratch, std::string(c.line) + "\r\n", &index);
    ASSERT_EQ(records.size(), c.kept ? 1u : 0u) << c.line;
    if (!c.kept) continue;
    EXPECT_EQ(records[0].path, c.path) << c.line;
    EXPECT_EQ(records[0].key, c.key) << c.line;
    EXPECT_EQ(records[0].size, c.size) << c.line;
    EXPECT_EQ(records[0].flag, ENTRY_LISTED) << c.line;
    EXPECT_EQ(index.at(c.path), 0) << c.line;
  }
}

TEST(VersionListRead, LineEndingsAndBlankLines) {
  ScratchDir scratch;
  PathIndex crlf_index, lf_index;
  VersionRecordList crlf = ReadText(scratch, "a,k1,1\r\n\r\nb,k2,2\r\nc,k3,3", &crlf_index);
  VersionRecordList lf = ReadText(scratch, "a,k1,1\n\nb,k2,2\nc,k3,3\n", &lf_index);
  ASSERT_EQ(crlf.size(), 3u);  // a last line without a line feed counts
  ASSERT_EQ(lf.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(crlf[i].path, lf[i].path);
    EXPECT_EQ(crlf[i].key, lf[i].key);
  }
  EXPECT_EQ(crlf[2].key, "k3");
}

TEST(VersionListRead, DuplicatePathsKeepBothRecordsAndIndexTheLast) {
  ScratchDir scratch;
  PathIndex index;
  VersionRecordList records = ReadText(scratch, "a,first,1\r\nb,x,2\r\na,second,3\r\n", &index);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(index.size(), 2u);
  EXPECT_EQ(records[index.at("a")].key, "second");
  // Paths are compared as bytes: letter case makes a different path.
  EXPECT_EQ(index.count("A"), 0u);
}

// A long line is read whole: an oversize record is skipped and the records
// after it still count.
TEST(VersionListRead, OversizeRecordsAreSkippedNotFatal) {
  ScratchDir scratch;
  std::string longest_path(1023, 'p');
  std::string too_long_path(1024, 'q');
  std::string text = "first,k,1\r\n" + too_long_path + ",k,2\r\n" + longest_path +
                     ",k,3\r\n"
                     "keytoolong," +
                     std::string(33, 'f') +
                     ",4\r\n"
                     "last," +
                     std::string(32, 'f') + ",5\r\n";
  PathIndex index;
  VersionRecordList records = ReadText(scratch, text, &index);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].path, "first");
  EXPECT_EQ(records[1].path, longest_path);
  EXPECT_EQ(records[2].path, "last");
  EXPECT_EQ(records[2].size, 5);
}

TEST(VersionListRead, LinesLongerThanTheReadChunk) {
  ScratchDir scratch;
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += "dir\\file" + std::to_string(i) + ",key" + std::to_string(i) + "," + std::to_string(i) +
            "\r\n";
  PathIndex index;
  VersionRecordList records = ReadText(scratch, text, &index);
  ASSERT_EQ(records.size(), 5000u);
  for (int i = 0; i < 5000; i += 997) {
    EXPECT_EQ(records[i].path, "dir\\file" + std::to_string(i));
    EXPECT_EQ(records[i].size, i);
  }
}

TEST(VersionListRead, FailuresAndEmptyFile) {
  ScratchDir scratch;
  VersionRecordList records = {Record("keep", "k", 1)};
  PathIndex index;
  EXPECT_FALSE(ReadVersionList(nullptr, &records, &index));
  EXPECT_EQ(records.size(), 1u);  // a null path touches nothing
  EXPECT_FALSE(ReadVersionList(scratch.Sub("missing.dat").c_str(), &records, &index));
  EXPECT_TRUE(std::strcmp(std::setlocale(LC_ALL, nullptr), "C") == 0);

  WriteFileBytes(scratch.Sub("empty.dat"), "");
  EXPECT_TRUE(ReadVersionList(scratch.Sub("empty.dat").c_str(), &records, &index));
  EXPECT_TRUE(records.empty());
  EXPECT_TRUE(std::strcmp(std::setlocale(LC_ALL, nullptr), "C") == 0);
}

TEST(VersionListWrite, RoundTripWithCrLfLines) {
  ScratchDir scratch;
  std::string path = scratch.Sub("VerComp.dat");
  VersionRecordList written = {Record(".\\bin\\app.exe", "900150983cd24fb0d6963f7d28e17f72", 23),
                               Record(".\\data\\a.txt", "d41d8cd98f00b204e9800998ecf8427e", -5),
                               Record(".\\big", "0123", -2147483647 - 1)};
  ASSERT_TRUE(Data2File(path.c_str(), written));
  EXPECT_EQ(ReadFileBytes(path),
            ".\\bin\\app.exe,900150983cd24fb0d6963f7d28e17f72,23\r\n"
            ".\\data\\a.txt,d41d8cd98f00b204e9800998ecf8427e,-5\r\n"
            ".\\big,0123,-2147483648\r\n");
  VersionRecordList read;
  PathIndex index;
  ASSERT_TRUE(ReadVersionList(path.c_str(), &read, &index));
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < read.size(); ++i) {
    EXPECT_EQ(read[i].path, written[i].path);
    EXPECT_EQ(read[i].key, written[i].key);
    EXPECT_EQ(read[i].size, written[i].size);
  }
}

TEST(VersionListWrite, ACommaInAPathDoesNotSurvive) {
  ScratchDir scratch;
  std::string path = scratch.Sub("list.dat");
  ASSERT_TRUE(Data2File(path.c_str(), {Record("a,b.txt", "key", 7)}));
  VersionRecordList read;
  PathIndex index;
  ASSERT_TRUE(ReadVersionList(path.c_str(), &read, &index));
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].path, "a");
  EXPECT_EQ(read[0].key, "b.txt");
  EXPECT_EQ(read[0].size, 0);  // "key,7" reads as no number
}

TEST(VersionListWrite, FailedWriteLeavesTheOldListWhole) {
  ScratchDir scratch;
  std::string path = scratch.Sub("VerComp.dat");
  ASSERT_TRUE(Data2File(path.c_str(), {Record("old", "k", 1)}));
  std::string before = ReadFileBytes(path);
  SetReadOnly(path, true);
  EXPECT_FALSE(Data2File(path.c_str(), {Record("new", "k", 2)}));
  EXPECT_EQ(ReadFileBytes(path), before);
  // No temporary file is left behind.
  EXPECT_EQ(testing_support::NamesIn(scratch.path()), std::vector<std::string>{"VerComp.dat"});

  EXPECT_FALSE(Data2File(nullptr, {}));
  EXPECT_FALSE(Data2File(scratch.Sub("missing/dir/list.dat").c_str(), {}));
}

TEST(VersionRecordConversion, EntriesCarryTextUpToTheirFields) {
  VersionEntry entry;
  RecordToEntry(Record(std::string(1023, 'p'), std::string(32, 'k'), 5), &entry);
  EXPECT_EQ(std::strlen(entry.path), 1023u);
  EXPECT_EQ(std::strlen(entry.key), 32u);
  VersionRecord back;
  ASSERT_TRUE(EntryToRecord(entry, &back));
  EXPECT_EQ(back.path.size(), 1023u);
  EXPECT_EQ(back.size, 5);

  std::memset(entry.key, 'x', sizeof(entry.key));  // no terminator
  EXPECT_FALSE(EntryToRecord(entry, &back));
}

}  // namespace

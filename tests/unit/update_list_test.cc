#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::MakeDirs;
using testing_support::ScratchDir;
using testing_support::StartupDirIn;
using testing_support::WriteFileBytes;

const char kKeyA[] = "0cc175b9c0f1b6a831c399e269772661";
const char kKeyB[] = "92eb5ffee6ae2fec3ad71c777531578f";
const char kKeyC[] = "4a8a08f09d37b73795649038408b5f33";

// A record of the update list as "flag:path:key:size".
std::string Describe(const VersionRecord& record) {
  return std::to_string(record.flag) + ":" + record.path + ":" + record.key + ":" +
         std::to_string(record.size);
}

struct Outcome {
  bool ok = false;
  std::vector<std::string> records;
  int total = -1;
};

Outcome Compare(const std::string& new_text, const std::string& local_text) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("new.dat"), new_text);
  WriteFileBytes(scratch.Sub("local.dat"), local_text);
  CFileVersion version;
  VersionRecordList result;
  Outcome outcome;
  outcome.ok = version.GenerateUpdateList(
      scratch.Sub("new.dat").c_str(), scratch.Sub("local.dat").c_str(), &result, &outcome.total);
  for (const VersionRecord& record : result) outcome.records.push_back(Describe(record));
  return outcome;
}

std::string Line(const std::string& path, const char* key, long long size) {
  return path + "," + key + "," + std::to_string(size) + "\r\n";
}

// The files the cases name lie nowhere below the test program's directory:
// with equal keys only a missing program or library is fetched again.
TEST(UpdateList, FlagsOrderAndTotal) {
  const std::string both = Line(".\\data\\a.txt", kKeyA, 10) + Line(".\\data\\b.txt", kKeyB, 20);
  struct Case {
    const char* name;
    std::string new_text;
    std::string local_text;
    std::vector<std::string> records;
    int total;
  };
  const Case cases[] = {
      {"identical lists", both, both, {}, 0},
      {"both empty", "", "", {}, 0},
      {"local list empty",
       both,
       "",
       {"1:.\\data\\a.txt:" + std::string(kKeyA) + ":10",
        "1:.\\data\\b.txt:" + std::string(kKeyB) + ":20"},
       30},
      {"new list empty",
       "",
       both,
       {"3:.\\data\\a.txt:" + std::string(kKeyA) + ":10",
        "3:.\\data\\b.txt:" + std::string(kKeyB) + ":20"},
       0},
      {"changed, new and obsolete in list order",
       Line("z.txt", kKeyC, 5) + Line(".\\data\\b.txt", kKeyC, 7) + Line("new.txt", kKeyA, 11),
       both + Line("old.txt", kKeyB, 3),
       {"1:z.txt:" + std::string(kKeyC) + ":5", "2:.\\data\\b.txt:" + std::string(kKeyC) + ":7",
        "1:new.txt:" + std::string(kKeyA) + ":11", "3:.\\data\\a.txt:" + std::string(kKeyA) + ":10",
        "3:old.txt:" + std::string(kKeyB) + ":3"},
       23},
      {"key differing only in case",
       Line("a.txt", "0CC175B9C0F1B6A831C399E269772661", 4),
       Line("a.txt", kKeyA, 4),
       {"2:a.txt:0CC175B9C0F1B6A831C399E269772661:4"},
       4},
      {"path differing only in case",
       Line("Bin\\a.txt", kKeyA, 4),
       Line("bin\\a.txt", kKeyA, 4),
       {"1:Bin\\a.txt:" + std::string(kKeyA) + ":4", "3:bin\\a.txt:" + std::string(kKeyA) + ":4"},
       4},
      {"sizes differ, keys equal", Line("a.txt", kKeyA, 99), Line("a.txt", kKeyA, 1), {}, 0},
      {"missing programs and libraries come back",
       Line(".\\nowhere\\core.dll", kKeyA, 1) + Line(".\\nowhere\\readme.txt", kKeyA, 2) +
           Line(".\\nowhere\\app.exe.config", kKeyA, 4) + Line(".\\PLUGINS\\X.DLL", kKeyA, 8) +
           Line(".\\nowhere\\app.ex", kKeyA, 16),
       Line(".\\nowhere\\core.dll", kKeyA, 1) + Line(".\\nowhere\\readme.txt", kKeyA, 2) +
           Line(".\\nowhere\\app.exe.config", kKeyA, 4) + Line(".\\PLUGINS\\X.DLL", kKeyA, 8) +
           Line(".\\nowhere\\app.ex", kKeyA, 16),
       {"1:.\\nowhere\\core.dll:" + std::string(kKeyA) + ":1",
        "1:.\\nowhere\\app.exe.config:" + std::string(kKeyA) + ":4",
        "1:.\\PLUGINS\\X.DLL:" + std::string(kKeyA) + ":8"},
       13},
      // The local list's index finds the last of two lines for one path.
      {"path listed twice locally",
       Line("a.txt", kKeyB, 1),
       Line("a.txt", kKeyB, 1) + Line("a.txt", kKeyA, 1),
       {"2:a.txt:" + std::string(kKeyB) + ":1"},
       1},
      {"path listed twice in the new list",
       Line("a.txt", kKeyA, 1) + Line("a.txt", kKeyB, 2),
       Line("a.txt", kKeyA, 1),
       {"2:a.txt:" + std::string(kKeyB) + ":2"},
       2},
      {"total clamped instead of wrapping",
       Line("a", kKeyA, 2000000000) + Line("b", kKeyA, 2000000000),
       "",
       {"1:a:" + std::string(kKeyA) + ":2000000000", "1:b:" + std::string(kKeyA) + ":2000000000"},
       2147483647},
      // A negative size is the low half of a count of 2 GiB or more.
      {"negative size counts as large",
       Line("a", kKeyA, -2) + Line("b", kKeyA, 5),
       "",
       {"1:a:" + std::string(kKeyA) + ":-2", "1:b:" + std::string(kKeyA) + ":5"},
       2147483647},
  };
  for (const Case& c : cases) {
    Outcome outcome = Compare(c.new_text, c.local_text);
    EXPECT_TRUE(outcome.ok) << c.name;
    EXPECT_EQ(outcome.records, c.records) << c.name;
    EXPECT_EQ(outcome.total, c.total) << c.name;
  }
}

TEST(UpdateList, UnreadableListsFail) {
  ScratchDir scratch;
  std::string list = scratch.Sub("list.dat");
  std::string missing = scratch.Sub("missing.dat");
  WriteFileBytes(list, Line("a.txt", kKeyA, 1));
  CFileVersion version;
  VersionRecordList result;
  int total = 77;
  EXPECT_FALSE(version.GenerateUpdateList(list.c_str(), missing.c_str(), &result, &total));
  EXPECT_FALSE(version.GenerateUpdateList(missing.c_str(), list.c_str(), &result, &total));
  EXPECT_FALSE(version.GenerateUpdateList(nullptr, list.c_str(), &result, &total));
  EXPECT_FALSE(version.GenerateUpdateList(list.c_str(), nullptr, &result, &total));

  // The export leaves its outputs alone on failure.
  VersionEntry* records = reinterpret_cast<VersionEntry*>(&total);
  int count = 5;
  total = 9;
  EXPECT_EQ(GenerateUpdateList(list.c_str(), missing.c_str(), &records, &count, &total), 0);
  EXPECT_EQ(records, reinterpret_cast<VersionEntry*>(&total));
  EXPECT_EQ(count, 5);
  EXPECT_EQ(total, 9);
}

TEST(UpdateList, BothListsStayLoaded) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("new.dat"), Line("a.txt", kKeyB, 1) + Line("b.txt", kKeyA, 2));
  WriteFileBytes(scratch.Sub("local.dat"), Line("a.txt", kKeyA, 1) + Line("c.txt", kKeyC, 3));
  CFileVersion version;
  VersionRecordList result;
  int total = 0;
  ASSERT_TRUE(version.GenerateUpdateList(scratch.Sub("new.dat").c_str(),
                                         scratch.Sub("local.dat").c_str(), &result, &total));
  ASSERT_EQ(version.new_list().size(), 2u);
  ASSERT_EQ(version.local_list().size(), 2u);
  EXPECT_EQ(version.local_list()[1].path, "c.txt");
  EXPECT_EQ(version.local_index().at("c.txt"), 1);
  EXPECT_EQ(version.new_index().at("b.txt"), 1);
  // The loaded lists are not touched by the flags of the result.
  EXPECT_EQ(version.local_list()[0].flag, ENTRY_LISTED);
}

TEST(UpdateList, ExportHandsOutCopies) {
  ScratchDir scratch;
  std::string list = scratch.Sub("list.dat");
  WriteFileBytes(list, Line("a.txt", kKeyA, 1));
  VersionEntry* records = nullptr;
  int count = -1;
  int total = -1;
  // An empty update list is still an array to give back.
  ASSERT_EQ(GenerateUpdateList(list.c_str(), list.c_str(), &records, &count, &total), 1);
  EXPECT_NE(records, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(total, 0);
  FreeUpdateList(&records);
  EXPECT_EQ(records, nullptr);

  std::string empty = scratch.Sub("empty.dat");
  WriteFileBytes(empty, "");
  ASSERT_EQ(GenerateUpdateList(list.c_str(), empty.c_str(), &records, &count, &total), 1);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(records[0].path, "a.txt");
  EXPECT_STREQ(records[0].key, kKeyA);
  EXPECT_EQ(records[0].size, 1);
  EXPECT_EQ(records[0].flag, ENTRY_NEW);
  EXPECT_EQ(total, 1);
  FreeVersionInfo(&records);
  EXPECT_EQ(records, nullptr);
}

// The presence check looks below the startup directory, here a scratch one.
TEST(UpdateList, PresenceIsCheckedBesideTheHost) {
  ScratchDir scratch;
  StartupDirIn host(scratch.path());
  MakeDirs(scratch.Sub("bin"));
  MakeDirs(scratch.Sub("plugins.dll"));
  WriteFileBytes(scratch.Sub("bin/core.dll"), "present");
  WriteFileBytes(scratch.Sub("bin/app.exe"), "present");
  std::string list = Line(".\\bin\\core.dll", kKeyA, 1) + Line(".\\bin\\gone.dll", kKeyA, 2) +
                     Line(".\\bin\\app.exe", kKeyA, 4) + Line(".\\bin\\gone.EXE", kKeyA, 8) +
                     Line(".\\data\\gone.txt", kKeyA, 16) + Line(".\\plugins.dll", kKeyA, 32) +
                     Line("bin\\gone.dll.bak", kKeyA, 64);
  std::string list_path = scratch.Sub("lists/both.dat");
  MakeDirs(scratch.Sub("lists"));
  WriteFileBytes(list_path, list);
  // The current directory has no part in it: it is wherever the test runs.
  VersionEntry* records = nullptr;
  int count = 0;
  int total = 0;
  ASSERT_EQ(GenerateUpdateList(list_path.c_str(), list_path.c_str(), &records, &count, &total), 1);
  std::vector<std::string> lines;
  for (int r = 0; r < count; ++r) {
    lines.push_back(std::to_string(records[r].flag) + "," + std::to_string(records[r].size) + "," +
                    records[r].path + "," + records[r].key);
  }
  lines.push_back("total " + std::to_string(total));
  FreeUpdateList(&records);
  EXPECT_EQ(lines,
            (std::vector<std::string>{"1,2,.\\bin\\gone.dll," + std::string(kKeyA),
                                      "1,8,.\\bin\\gone.EXE," + std::string(kKeyA),
                                      "1,64,bin\\gone.dll.bak," + std::string(kKeyA), "total 74"}));
}

}  // namespace

// The array contract of the exported list readers.
#include <gtest/gtest.h>

#include <cstring>

#include "common.h"
#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

TEST(LoadVersionInfo, HandsOutOneRecordPerLineInFileOrder) {
  ScratchDir scratch;
  std::string path = scratch.Sub("VerComp.dat");
  WriteFileBytes(path, "b,kb,2\r\nbroken line\r\na,ka,1\r\n");
  VersionEntry* records = nullptr;
  int count = 0;
  ASSERT_EQ(LoadVersionInfo(path.c_str(), &records, &count), 1);
  ASSERT_EQ(count, 2);
  ASSERT_NE(records, nullptr);
  EXPECT_STREQ(records[0].path, "b");
  EXPECT_STREQ(records[0].key, "kb");
  EXPECT_EQ(records[0].size, 2);
  EXPECT_STREQ(records[1].path, "a");
  EXPECT_EQ(records[1].flag, ENTRY_LISTED);
  FreeVersionInfo(&records);
  EXPECT_EQ(records, nullptr);
  FreeVersionInfo(&records);  // a second call on the same variable does nothing
}

TEST(LoadVersionInfo, EmptyListGivesNoArray) {
  ScratchDir scratch;
  std::string path = scratch.Sub("empty.dat");
  WriteFileBytes(path, "");
  VersionEntry* records = reinterpret_cast<VersionEntry*>(&path);
  int count = 5;
  ASSERT_EQ(LoadVersionInfo(path.c_str(), &records, &count), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(records, nullptr);
}

TEST(LoadVersionInfo, FailuresLeaveTheOutputsAlone) {
  ScratchDir scratch;
  VersionEntry sentinel;
  VersionEntry* records = &sentinel;
  int count = 42;
  EXPECT_EQ(LoadVersionInfo(scratch.Sub("missing.dat").c_str(), &records, &count), 0);
  EXPECT_EQ(LoadVersionInfo(nullptr, &records, &count), 0);
  EXPECT_EQ(records, &sentinel);
  EXPECT_EQ(count, 42);
  WriteFileBytes(scratch.Sub("list.dat"), "a,k,1\r\n");
  EXPECT_EQ(LoadVersionInfo(scratch.Sub("list.dat").c_str(), nullptr, &count), 0);
  EXPECT_EQ(LoadVersionInfo(scratch.Sub("list.dat").c_str(), &records, nullptr), 0);
}

TEST(FreeArrays, NullArgumentsAreIgnored) {
  FreeUpdateList(nullptr);
  FreeVersionInfo(nullptr);
  VersionEntry* none = nullptr;
  FreeUpdateList(&none);
  EXPECT_EQ(none, nullptr);
}

}  // namespace

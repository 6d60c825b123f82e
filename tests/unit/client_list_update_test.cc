#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::NamesIn;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

const char kOld[] = "0cc175b9c0f1b6a831c399e269772661";
const char kNew[] = "92eb5ffee6ae2fec3ad71c777531578f";

VersionEntry Entry(const char* path, const char* key, int size) {
  VersionEntry entry;
  std::memset(&entry, 0, sizeof(entry));
  std::strcpy(entry.path, path);
  std::strcpy(entry.key, key);
  entry.size = size;
  entry.flag = ENTRY_CHANGED;
  return entry;
}

// Loads local_text as the client's list of a CFileVersion through
// GenerateUpdateList, as a host does before it records updated files.
class ClientList {
 public:
  explicit ClientList(const std::string& local_text) : list_(scratch_.Sub("VerComp.dat")) {
    WriteFileBytes(list_, local_text);
    WriteFileBytes(scratch_.Sub("new.dat"), "");
    VersionRecordList result;
    int total = 0;
    EXPECT_TRUE(version_.GenerateUpdateList(scratch_.Sub("new.dat").c_str(), list_.c_str(), &result,
                                            &total));
  }
  bool Update(const VersionEntry& entry) {
    return version_.UpdateClientVersionInfo(list_.c_str(), entry);
  }
  std::string Text() const { return ReadFileBytes(list_); }
  const std::string& path() const { return list_; }
  CFileVersion& version() { return version_; }

 private:
  ScratchDir scratch_;
  std::string list_;
  CFileVersion version_;
};

std::string DirOf(const std::string& path) {
  return path.substr(0, path.find_last_of(testing_support::Sep()));
}

const std::string kTwoLines = std::string("a.txt,") + kOld + ",10\r\nb\\c.dll," + kOld + ",20\r\n";

TEST(ClientListUpdate, RewritesTheWholeList) {
  struct Case {
    const char* name;
    std::string local;
    std::vector<VersionEntry> updates;
    std::string expected;
  };
  const Case cases[] = {
      {"known path: only the key changes, the size column stays",
       kTwoLines,
       {Entry("b\\c.dll", kNew, 999)},
       std::string("a.txt,") + kOld + ",10\r\nb\\c.dll," + kNew + ",20\r\n"},
      {"unknown path: appended with its own size",
       kTwoLines,
       {Entry("d.txt", kNew, 7)},
       kTwoLines + "d.txt," + kNew + ",7\r\n"},
      {"two calls: both changes kept",
       kTwoLines,
       {Entry("a.txt", kNew, 1), Entry("e.txt", kNew, 2)},
       std::string("a.txt,") + kNew + ",10\r\nb\\c.dll," + kOld + ",20\r\ne.txt," + kNew +
           ",2\r\n"},
      {"path differing in case: appended",
       kTwoLines,
       {Entry("A.TXT", kNew, 3)},
       kTwoLines + "A.TXT," + kNew + ",3\r\n"},
      {"empty local list: one line",
       "",
       {Entry("x.exe", kNew, 5)},
       std::string("x.exe,") + kNew + ",5\r\n"},
      // The appended record is indexed: the second call changes it.
      {"same new path twice: one line",
       "",
       {Entry("x.exe", kOld, 5), Entry("x.exe", kNew, 6)},
       std::string("x.exe,") + kNew + ",5\r\n"},
      {"empty key and path are still records", "", {Entry("", "", 0)}, ",,0\r\n"},
  };
  for (const Case& c : cases) {
    ClientList list(c.local);
    for (const VersionEntry& entry : c.updates) EXPECT_TRUE(list.Update(entry)) << c.name;
    EXPECT_EQ(list.Text(), c.expected) << c.name;
  }
}

TEST(ClientListUpdate, RefusesBadArguments) {
  ClientList list(kTwoLines);
  VersionEntry entry = Entry("a.txt", kNew, 1);
  EXPECT_FALSE(list.version().UpdateClientVersionInfo(nullptr, entry));

  VersionEntry long_path = entry;
  std::memset(long_path.path, 'p', sizeof(long_path.path));
  EXPECT_FALSE(list.Update(long_path));
  VersionEntry long_key = entry;
  std::memset(long_key.key, 'k', sizeof(long_key.key));
  EXPECT_FALSE(list.Update(long_key));
  EXPECT_EQ(list.Text(), kTwoLines);
  EXPECT_EQ(list.version().local_list().size(), 2u);
}

TEST(ClientListUpdate, UnwritableListKeepsItsOldText) {
  ClientList list(kTwoLines);
  SetReadOnly(list.path(), true);
  EXPECT_FALSE(list.Update(Entry("a.txt", kNew, 1)));
  EXPECT_EQ(list.Text(), kTwoLines);
  EXPECT_EQ(NamesIn(DirOf(list.path())), (std::vector<std::string>{"new.dat", "VerComp.dat"}));
  // The edit stays in memory and reaches the file once it can be written.
  SetReadOnly(list.path(), false);
  EXPECT_TRUE(list.Update(Entry("b\\c.dll", kNew, 1)));
  EXPECT_EQ(list.Text(), std::string("a.txt,") + kNew + ",10\r\nb\\c.dll," + kNew + ",20\r\n");
}

// What an earlier version or another program left beside the list, under
// any name, is neither taken over nor in the way, even read-only; and a list
// whose name is as long as the system allows can be written.
TEST(ClientListUpdate, TemporaryFileIsTheWritersOwn) {
  ClientList list(kTwoLines);
  std::string leftover = list.path() + ".~tmp";
  WriteFileBytes(leftover, "someone's file");
  SetReadOnly(leftover, true);
  EXPECT_TRUE(list.Update(Entry("a.txt", kNew, 1)));
  EXPECT_EQ(list.Text(), std::string("a.txt,") + kNew + ",10\r\nb\\c.dll," + kOld + ",20\r\n");
  EXPECT_EQ(ReadFileBytes(leftover), "someone's file");
  SetReadOnly(leftover, false);

  std::string dir = DirOf(list.path());
  size_t length = testing_support::Sep() == '\\' ? 259 - dir.size() - 1 : 255;
  std::string longest = dir + testing_support::Sep() + std::string(length, 'v');
  EXPECT_TRUE(list.version().UpdateClientVersionInfo(longest.c_str(), Entry("a.txt", kNew, 1)));
  EXPECT_EQ(ReadFileBytes(longest), list.Text());
  EXPECT_EQ(NamesIn(dir).size(), 4u);
}

TEST(ClientListUpdate, ExportWorksOnTheLoadedList) {
  ScratchDir scratch;
  std::string local = scratch.Sub("local.dat");
  std::string other = scratch.Sub("other.dat");
  WriteFileBytes(local, kTwoLines);
  VersionEntry* records = nullptr;
  int count = 0;
  int total = 0;
  ASSERT_EQ(GenerateUpdateList(local.c_str(), local.c_str(), &records, &count, &total), 1);
  FreeUpdateList(&records);
  ASSERT_EQ(UpdateClientVersionInfo(local.c_str(), Entry("a.txt", kNew, 1)), 1);
  EXPECT_EQ(ReadFileBytes(local),
            std::string("a.txt,") + kNew + ",10\r\nb\\c.dll," + kOld + ",20\r\n");

  // A list written elsewhere holds the same loaded records.
  ASSERT_EQ(UpdateClientVersionInfo(other.c_str(), Entry("z", kNew, 1)), 1);
  EXPECT_EQ(ReadFileBytes(other), ReadFileBytes(local) + "z," + kNew + ",1\r\n");
}

}  // namespace

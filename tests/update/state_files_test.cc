// The install folder's own files read and locked without following a link
// planted at their names, and without waiting on a named pipe: the floor,
// the journal and the lock, each with the thing planted in its place.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "update/apply_journal.h"
#include "update/release_state.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

bool IsWindows() { return std::string(plat::kExecutableSuffix) == ".exe"; }

const char kJournal[] =
    "filedist apply journal 1\r\nremove,.\\a.txt,"
    "0123456789abcdef0123456789abcdef,1\r\nend\r\n";

// What a planted entry is, made at path; the good copy it leads to lies in
// elsewhere.
enum class Planted { kLinkToGoodCopy, kDanglingLink, kNamedPipe };

void Plant(Planted kind, const std::string& path, const std::string& elsewhere) {
  switch (kind) {
    case Planted::kLinkToGoodCopy:
      fs::create_symlink(elsewhere, path);
      break;
    case Planted::kDanglingLink:
      fs::create_symlink(elsewhere + ".missing", path);
      break;
    case Planted::kNamedPipe: {
      std::string output;
      ASSERT_EQ(testing_support::Run({"/usr/bin/mkfifo", path}, &output), 0) << output;
      break;
    }
  }
}

TEST(StateFiles, PlantedEntriesAreNeitherFollowedNorWaitedOn) {
  if (IsWindows()) GTEST_SKIP() << "links and named pipes are made with POSIX calls here";
  struct Case {
    const char* name;
    Planted kind;
  };
  const std::vector<Case> cases = {
      {"a link to a good copy", Planted::kLinkToGoodCopy},
      {"a link that leads nowhere", Planted::kDanglingLink},
      {"a named pipe", Planted::kNamedPipe},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    std::string install = scratch.Sub("install");
    testing_support::MakeDirs(install);
    std::string outside = scratch.Sub("outside");
    testing_support::MakeDirs(outside);

    WriteFileBytes(outside + "/floor", "sequence 7\n");
    Plant(c.kind, install + "/.filedist-release", outside + "/floor");
    uint64_t sequence = 0;
    EXPECT_EQ(update::ReadReleaseState(install, &sequence), update::ReleaseState::kDamaged);

    WriteFileBytes(outside + "/journal", kJournal);
    Plant(c.kind, install + "/.filedist-journal", outside + "/journal");
    std::vector<update::JournalEntry> entries;
    EXPECT_EQ(update::ReadJournal(install + "/.filedist-journal", &entries),
              update::JournalState::kTorn);
    EXPECT_TRUE(entries.empty());

    // No lock file is made where a link leads, and a pipe is not a lock.
    Plant(c.kind, install + "/.filedist-lock", outside + "/lock");
    plat::FileLock lock;
    EXPECT_EQ(lock.Acquire(install + "/.filedist-lock"), plat::LockResult::kFailed);
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside + "/lock")));

    // A release folder's file or a build's Filters.ini in these forms.
    FILE* file = plat::OpenFile((install + "/.filedist-release").c_str(), "rb");
    if (c.kind == Planted::kLinkToGoodCopy) {
      EXPECT_NE(file, nullptr);
    } else {
      EXPECT_EQ(file, nullptr);
    }
    if (file != nullptr) std::fclose(file);
    EXPECT_EQ(plat::ReadIniSection((install + "/.filedist-lock").c_str(), "Ext", 256), "");
  }
}

}  // namespace

// `filedist update` while the application it updates is running: its
// program file, a library it loaded and a document it keeps open. On
// Windows the program and the library cannot be overwritten but can be
// renamed, and a document open without leave to delete it cannot even be
// renamed; on POSIX a rename replaces any of them. The holder program
// (tests/holder) plays the application; the release ships a copy of the
// project's own shared library as the library it loads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/release_tree.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::TestProgramDir;
using testing_support::Tree;
using testing_support::WriteFileBytes;
using testing_support::WriteRelease;
using Strings = std::vector<std::string>;

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

std::string LibraryName() { return IsWindowsProgram() ? "common.dll" : "libcommon.so"; }
std::string AppName() { return std::string("app") + plat::kExecutableSuffix; }

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// Names in dir that an update gives the copies it moves aside.
Strings AsideCopiesIn(const std::string& dir) {
  Strings found;
  for (const std::string& name : testing_support::NamesIn(dir)) {
    if (name.compare(0, 6, ".~old-") == 0) found.push_back(name);
  }
  return found;
}

// The holder running in the background from the moment it has taken hold
// of its files until it is signalled to end.
class RunningHolder {
 public:
  RunningHolder(const std::string& program, const std::string& scratch, Strings holds)
      : ready_(scratch + "/holder-ready"), signal_(scratch + "/holder-signal") {
    Strings args = {program, ready_, signal_};
    args.insert(args.end(), holds.begin(), holds.end());
    thread_ = std::thread([this, args] {
      status_ = testing_support::Run(args, &output_);
      ended_ = true;
    });
    for (int waited = 0; !FileExists(ready_) && !ended_ && waited < 1200; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~RunningHolder() { Finish(); }

  bool Holding() const { return FileExists(ready_); }

  // Signals the holder and gives its exit status: 0 when the library image it
  // started with still answered.
  int Finish() {
    if (thread_.joinable()) {
      WriteFileBytes(signal_, "");
      thread_.join();
    }
    return status_;
  }
  const std::string& output() const { return output_; }

 private:
  std::string ready_;
  std::string signal_;
  std::thread thread_;
  int status_ = -1;
  std::atomic<bool> ended_{false};
  std::string output_;
};

class UpdateInUseTest : public ::testing::Test {
 protected:
  UpdateInUseTest() {
    client_ = scratch_.Sub("client");
    MakeDirs(client_);
    program_ = CopyProgramInto("filedist", client_);
    holder_bytes_ = ReadFileBytes(TestProgramDir() + "/in_use_holder" + plat::kExecutableSuffix);
    library_bytes_ = ReadFileBytes(TestProgramDir() + "/" + LibraryName());
  }

  std::string In(const std::string& relative) const { return client_ + "/" + relative; }

  int Update(const std::string& release, std::string* output) {
    return testing_support::Run({program_, "update", release}, output);
  }

  Tree Installed() const {
    return testing_support::ReadInstall(client_, "filedist" + std::string(plat::kExecutableSuffix));
  }

  std::string Release(const std::string& name, const Tree& tree) {
    WriteRelease(scratch_.Sub(name), tree);
    return scratch_.Sub(name);
  }

  ScratchDir scratch_;
  std::string client_;
  std::string program_;
  std::string holder_bytes_;
  std::string library_bytes_;
};

// The application runs from the install folder with a library of it loaded
// while a release replaces both. The update succeeds; on Windows the old
// files go aside in their own folders, the running image keeps working, and
// the first run after the application ended removes the old copies. On
// POSIX the rename replaces the running files and nothing is moved.
TEST_F(UpdateInUseTest, RunningProgramAndLoadedLibraryAreReplaced) {
  const std::string library = "bin/" + LibraryName();
  Tree v1 = {{AppName(), holder_bytes_}, {library, library_bytes_}, {"readme.txt", "version 1"}};
  Tree v2 = {{AppName(), holder_bytes_ + "\nversion 2 of the program"},
             {library, library_bytes_ + "\nversion 2 of the library"},
             {"readme.txt", "version 2"}};
  std::string output;
  ASSERT_EQ(Update(Release("rel1", v1), &output), 0) << output;
  ASSERT_TRUE(Installed() == v1);
  // A release carries no permission bits: the new file is a program once made one.
  fs::permissions(In(AppName()), fs::perms::owner_exec, fs::perm_options::add);

  RunningHolder holder(In(AppName()), scratch_.path(), {"--library", In(library)});
  ASSERT_TRUE(holder.Holding()) << holder.Finish() << holder.output();
  EXPECT_EQ(Update(Release("rel2", v2), &output), 0) << output;
  for (const auto& [path, bytes] : v2) EXPECT_TRUE(ReadFileBytes(In(path)) == bytes) << path;
  EXPECT_EQ(testing_support::UnmatchedRecords(client_), "");
  EXPECT_FALSE(FileExists(In(".filedist-staging")));
  Strings top = AsideCopiesIn(client_);
  Strings bin = AsideCopiesIn(In("bin"));
  if (IsWindowsProgram()) {
    ASSERT_EQ(top.size(), 1u) << output;
    EXPECT_TRUE(ReadFileBytes(In(top[0])) == holder_bytes_) << top[0];
    ASSERT_EQ(bin.size(), 1u) << output;
    EXPECT_TRUE(ReadFileBytes(In("bin/" + bin[0])) == library_bytes_) << bin[0];
    // Still held: a run meanwhile leaves them, and verify does not count them.
    EXPECT_EQ(Update(scratch_.Sub("rel2"), &output), 0) << output;
    EXPECT_EQ(AsideCopiesIn(In("bin")), bin);
    EXPECT_EQ(testing_support::Run({program_, "verify"}, &output), 0) << output;
  } else {
    EXPECT_EQ(top, Strings());
    EXPECT_EQ(bin, Strings());
  }
  EXPECT_EQ(holder.Finish(), 0) << "the running image stopped working\n" << holder.output();

  EXPECT_EQ(Update(scratch_.Sub("rel2"), &output), 0) << output;
  EXPECT_EQ(AsideCopiesIn(client_), Strings());
  EXPECT_EQ(AsideCopiesIn(In("bin")), Strings());
  EXPECT_FALSE(FileExists(In(".filedist-aside")));
  EXPECT_TRUE(Installed() == v2);
}

// --prune meets a library that a running program has loaded: on Windows it
// goes aside like a replaced one and with a later run; on POSIX it is
// removed at once. Either way the program keeps its image.
TEST_F(UpdateInUseTest, PruneOfALoadedLibrary) {
  const std::string library = "bin/" + LibraryName();
  Tree v1 = {{library, library_bytes_}, {"readme.txt", "version 1"}};
  Tree v2 = {{"readme.txt", "version 2"}};
  std::string output;
  ASSERT_EQ(Update(Release("rel1", v1), &output), 0) << output;
  std::string holder_program = CopyProgramInto("in_use_holder", scratch_.path());
  RunningHolder holder(holder_program, scratch_.path(), {"--library", In(library)});
  ASSERT_TRUE(holder.Holding()) << holder.Finish() << holder.output();
  EXPECT_EQ(testing_support::Run({program_, "update", Release("rel2", v2), "--prune"}, &output), 0)
      << output;
  EXPECT_TRUE(Contains(output, "removed .\\bin\\" + LibraryName())) << output;
  EXPECT_FALSE(FileExists(In(library)));
  // The old copy keeps its folder until it goes.
  if (IsWindowsProgram()) {
    EXPECT_EQ(AsideCopiesIn(In("bin")).size(), 1u);
  } else {
    EXPECT_FALSE(FileExists(In("bin")));
  }
  EXPECT_EQ(holder.Finish(), 0) << "the running image stopped working\n" << holder.output();

  EXPECT_EQ(Update(scratch_.Sub("rel2"), &output), 0) << output;
  EXPECT_FALSE(FileExists(In("bin")));
  EXPECT_EQ(Installed(), v2);
}

// A document held open without leave to delete it cannot be replaced nor
// moved on Windows: the run fails naming the file and what to do, the list
// does not vouch for it, and once the program has ended the next run places
// the copy it checked before, without fetching it again.
TEST_F(UpdateInUseTest, FileHeldOpenIsPlacedByTheRunAfterItIsClosed) {
  if (!IsWindowsProgram()) GTEST_SKIP() << "an open file never stops a rename here";
  Tree v1 = {{"data/doc.txt", "document 1"}, {"other.txt", "other 1"}};
  Tree v2 = {{"data/doc.txt", "document 2, longer"}, {"other.txt", "other 2"}};
  std::string output;
  ASSERT_EQ(Update(Release("rel1", v1), &output), 0) << output;
  std::string holder_program = CopyProgramInto("in_use_holder", scratch_.path());
  std::string release = Release("rel2", v2);
  {
    RunningHolder holder(holder_program, scratch_.path(), {"--open", In("data/doc.txt")});
    ASSERT_TRUE(holder.Holding()) << holder.Finish() << holder.output();
    EXPECT_EQ(Update(release, &output), 1) << output;
    EXPECT_TRUE(Contains(output, "data") && Contains(output, "doc.txt' is in use")) << output;
    EXPECT_TRUE(Contains(output, "close that program and run the update again")) << output;
    EXPECT_FALSE(Contains(output, "damaged")) << output;
    EXPECT_EQ(ReadFileBytes(In("data/doc.txt")), v1.at("data/doc.txt"));
    EXPECT_EQ(ReadFileBytes(In("other.txt")), v2.at("other.txt"));
    EXPECT_EQ(testing_support::UnmatchedRecords(client_), "");
    EXPECT_EQ(AsideCopiesIn(In("data")), Strings());
    EXPECT_EQ(holder.Finish(), 0) << holder.output();
  }
  // The release can no longer serve the file: it must come from staging.
  fs::remove(release + "/data/doc.txt");
  EXPECT_EQ(Update(release, &output), 0) << output;
  EXPECT_EQ(Installed(), v2);
  EXPECT_EQ(testing_support::UnmatchedRecords(client_), "");
  EXPECT_FALSE(FileExists(In(".filedist-staging")));
}

}  // namespace

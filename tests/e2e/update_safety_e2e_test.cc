// `filedist update` against what goes wrong in the field: damaged and forged
// downloads, a release that reaches for the updater's own files or through
// links out of the install folder, two updates at once, an unwritable list,
// pruning, a release that ships the updater itself. Releases are written
// with zlib and the MD5 primitives, not with filedist.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_lock.h"
#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::KeyList;
using testing_support::ListPath;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ReadListKeys;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::WriteFileBytes;
using testing_support::WriteRelease;
using testing_support::ZlibGzip;
using Strings = std::vector<std::string>;

const Tree kVersion1 = {
    {"a.txt", "alpha 1"},
    {"b.txt", "bravo 1"},
    {"data/c.txt", "charlie 1"},
};

const Tree kVersion2 = {
    {"a.txt", "alpha 1"},
    {"b.txt", "bravo 2, with more to it"},
    {"data/c.txt", "charlie 2"},
    {"data/new.txt", "a file new in version 2"},
};

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

std::string ProgramName() { return std::string("filedist") + plat::kExecutableSuffix; }

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

class UpdateSafetyTest : public ::testing::Test {
 protected:
  UpdateSafetyTest() {
    client_ = Sub("client");
    MakeDirs(client_);
    program_ = CopyProgramInto("filedist", client_);
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }
  std::string In(const std::string& relative) const { return client_ + "/" + relative; }

  int Update(Strings args, std::string* output) {
    args.insert(args.begin(), {program_, "update"});
    return testing_support::Run(args, output);
  }

  std::string Release(const std::string& name, const Tree& tree, const KeyList& listed = {},
                      const Tree& served = {}) {
    WriteRelease(Sub(name), tree, listed, served);
    return Sub(name);
  }

  Tree Installed() { return testing_support::ReadInstall(client_, ProgramName()); }
  KeyList Recorded() { return ReadListKeys(In("VerComp.dat")); }

  // The client at version 1, with the list that records it.
  void InstallVersion1() {
    std::string output;
    ASSERT_EQ(Update({Release("rel1", kVersion1)}, &output), 0) << output;
    ASSERT_EQ(Installed(), kVersion1);
    keys1_ = Recorded();
  }

  ScratchDir scratch_;
  std::string client_;
  std::string program_;
  KeyList keys1_;
};

// A fetched file that is not what the list promises is found before it
// replaces anything: every installed file and the list stay at version 1,
// and going back to version 1 is a real no-op, not "up to date" over wrong
// bytes.
TEST_F(UpdateSafetyTest, BadDownloadsReplaceNothing) {
  InstallVersion1();
  std::string bomb = ZlibGzip(std::string(4 << 20, '\0'));
  bomb[bomb.size() - 4] = 100;  // the trailer claims 100 bytes
  bomb[bomb.size() - 3] = bomb[bomb.size() - 2] = bomb[bomb.size() - 1] = 0;
  struct Case {
    const char* name;
    std::string body;        // what the release serves for b.txt
    bool listed_size;        // the list gives the served file's size, not the genuine one's
    std::string listed_key;  // a forged key for b.txt in the list, or ""
    std::string why;         // a piece of the message
  };
  const std::string genuine = ZlibGzip(kVersion2.at("b.txt"));
  const std::vector<Case> cases = {
      {"stale file", ZlibGzip(kVersion1.at("b.txt")), true, "", "key"},
      {"web page with status 200", "<html><body>Not here</body></html>", true, "", "key"},
      {"empty body", std::string(), false, "", "key"},
      {"wrong key in the list", genuine, true, std::string(32, '7'), "key"},
      {"longer than listed", genuine + std::string(300000, 'x'), false, "", "longer"},
      {"gzip bomb", bomb, true, "", "expands"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyList listed;
    if (!c.listed_key.empty()) listed[".\\b.txt"] = c.listed_key;
    Tree served;
    if (c.listed_size) served["b.txt"] = c.body;
    std::string release = Release(std::string("rel2-") + c.name, kVersion2, listed, served);
    if (!c.listed_size) WriteFileBytes(release + "/b.txt", c.body);
    std::string output;
    EXPECT_EQ(Update({release}, &output), 1) << output;
    EXPECT_TRUE(Contains(output, "'.\\b.txt'")) << output;
    EXPECT_TRUE(Contains(output, c.why)) << output;
    EXPECT_EQ(Installed(), kVersion1) << output;
    EXPECT_EQ(Recorded(), keys1_);

    EXPECT_EQ(Update({Sub("rel1")}, &output), 0) << output;
    EXPECT_EQ(Installed(), kVersion1) << output;
  }
}

// The updater's own files are never a release's to replace, named as the
// file system names them.
TEST_F(UpdateSafetyTest, ReleasesCannotReplaceTheUpdatersOwnFiles) {
  InstallVersion1();
  // The names of old copies moved aside while in use count as the updater's
  // own, in any folder: a release file of that name would be removed by a
  // later run. filedist.pub is the key a trusting client checks releases
  // with, and .filedist-release the number that keeps older releases out.
  Strings names = {"Ver",
                   "VerComp.dat",
                   ".filedist-journal",
                   ".filedist-staging/x.txt",
                   ".filedist-lock",
                   ".filedist-aside",
                   ".~old-0123abcd-a.txt",
                   "data/.~old-89abcdef-c.txt",
                   "filedist.pub",
                   ".filedist-release"};
  if (IsWindowsProgram()) {
    // Windows strips trailing dots and spaces and ignores letter case.
    names.insert(names.end(),
                 {"VerComp.dat.", "vercomp.DAT ", "VER", "buildver.LOG", "data/.~OLD-1.dll"});
  }
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Tree tree = kVersion2;
    tree[name] = "planted by a release";
    std::string release = Release("rel-" + std::to_string(&name - &names[0]), tree);
    std::string output;
    EXPECT_EQ(Update({release}, &output), 1) << output;
    EXPECT_TRUE(Contains(output, "'" + ListPath(name) + "'")) << output;
    EXPECT_TRUE(Contains(output, "nothing was installed")) << output;
    EXPECT_EQ(Installed(), kVersion1);
    EXPECT_EQ(Recorded(), keys1_);
  }
}

TEST_F(UpdateSafetyTest, OneUpdateAtATime) {
  InstallVersion1();
  plat::FileLock held;
  ASSERT_EQ(held.Acquire(In(".filedist-lock")), plat::LockResult::kAcquired);
  std::string output;
  EXPECT_EQ(Update({Release("rel2", kVersion2)}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "another update")) << output;
  EXPECT_EQ(Installed(), kVersion1);
  held.Release();
  EXPECT_EQ(Update({Sub("rel2")}, &output), 0) << output;
  EXPECT_EQ(Installed(), kVersion2);
}

// A list that cannot be written is found before any file is replaced, not
// after every file was replaced and none recorded.
TEST_F(UpdateSafetyTest, UnwritableListIsFoundFirst) {
  InstallVersion1();
  testing_support::SetReadOnly(In("VerComp.dat"), true);
  std::string output;
  EXPECT_EQ(Update({Release("rel2", kVersion2)}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "cannot be written")) << output;
  EXPECT_EQ(Installed(), kVersion1);
  testing_support::SetReadOnly(In("VerComp.dat"), false);
  EXPECT_EQ(Update({Sub("rel2")}, &output), 0) << output;
  EXPECT_EQ(Installed(), kVersion2);
}

// --prune removes a file with its record, keeps what the user changed
// unless forced, and a later release that brings a file back installs it.
TEST_F(UpdateSafetyTest, PruneKeepsItsWord) {
  Tree with_extras = kVersion1;
  with_extras["gone.txt"] = "dropped by version 2";
  with_extras["edited.txt"] = "dropped by version 2, edited by the user";
  std::string output;
  ASSERT_EQ(Update({Release("rel1", with_extras)}, &output), 0) << output;
  WriteFileBytes(In("edited.txt"), "the user's own words");

  EXPECT_EQ(Update({Release("rel2", kVersion2), "--prune"}, &output), 0) << output;
  EXPECT_FALSE(FileExists(In("gone.txt")));
  EXPECT_EQ(Recorded().count(".\\gone.txt"), 0u);
  EXPECT_EQ(ReadFileBytes(In("edited.txt")), "the user's own words");
  EXPECT_TRUE(Contains(output, "keeping '.\\edited.txt'")) << output;
  EXPECT_TRUE(Contains(output, "removed .\\gone.txt")) << output;

  EXPECT_EQ(Update({Sub("rel2"), "--prune", "--force"}, &output), 0) << output;
  EXPECT_FALSE(FileExists(In("edited.txt")));

  EXPECT_EQ(Update({Release("rel3", with_extras)}, &output), 0) << output;
  EXPECT_EQ(ReadFileBytes(In("gone.txt")), with_extras.at("gone.txt"));
  EXPECT_EQ(ReadFileBytes(In("edited.txt")), with_extras.at("edited.txt"));
  EXPECT_EQ(testing_support::UnmatchedRecords(client_), "");
}

// A release that once shipped the updater and no longer does: --prune
// leaves the running program alone.
TEST_F(UpdateSafetyTest, PruneNeverRemovesTheUpdater) {
  Tree with_program = kVersion1;
  with_program[ProgramName()] = ReadFileBytes(program_);
  std::string output;
  ASSERT_EQ(Update({Release("rel1", with_program)}, &output), 0) << output;
  EXPECT_EQ(Update({Release("rel2", kVersion2), "--prune"}, &output), 0) << output;
  EXPECT_TRUE(FileExists(program_));
  EXPECT_EQ(testing_support::Run({program_, "update", "--help"}, &output), 0) << output;
}

// A release that carries a new updater replaces the running one with a file
// that is still a program.
TEST_F(UpdateSafetyTest, ShippedUpdaterStaysAProgram) {
  Tree tree = kVersion1;
  // Bytes after the end of a program file do not change what it does.
  std::string next = ReadFileBytes(program_) + "\nnext version of the updater";
  tree[ProgramName()] = next;
  std::string output;
  ASSERT_EQ(Update({Release("rel1", tree)}, &output), 0) << output;
  EXPECT_EQ(ReadFileBytes(program_), next);
  EXPECT_NE(fs::status(program_).permissions() & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(testing_support::Run({program_, "update", "--help"}, &output), 0) << output;
  // The old copy, moved aside where it could not be removed at once, goes
  // with a later run.
  EXPECT_EQ(Update({Sub("rel1")}, &output), 0) << output;
  EXPECT_FALSE(fs::exists(In(".filedist-staging")));
}

// A folder link inside the install folder that leads outside cannot carry
// a release file out; one that stays inside may be used.
TEST_F(UpdateSafetyTest, LinksLeadingOutsideAreRefused) {
  if (IsWindowsProgram()) GTEST_SKIP() << "links are made with POSIX calls here";
  InstallVersion1();
  MakeDirs(Sub("outside"));
  fs::create_directory_symlink(Sub("outside"), In("link"));
  Tree tree = kVersion2;
  tree["link/pwn.txt"] = "written outside";
  std::string output;
  EXPECT_EQ(Update({Release("rel2", tree)}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "'.\\link\\pwn.txt'")) << output;
  EXPECT_FALSE(FileExists(Sub("outside/pwn.txt")));
  EXPECT_EQ(Installed(), kVersion1);

  fs::remove(In("link"));
  MakeDirs(In("real"));
  fs::create_directory_symlink(In("real"), In("inner"));
  fs::remove(In("b.txt"));
  fs::create_symlink(Sub("outside/target.txt"), In("b.txt"));
  WriteFileBytes(Sub("outside/target.txt"), "outside, untouched");
  // A staging folder planted as a link to elsewhere is not written through.
  fs::remove_all(In(".filedist-staging"));
  fs::create_directory_symlink(Sub("outside"), In(".filedist-staging"));
  tree = kVersion2;
  tree["inner/ok.txt"] = "inside after all";
  EXPECT_EQ(Update({Release("rel3", tree)}, &output), 0) << output;
  EXPECT_EQ(testing_support::NamesIn(Sub("outside")), Strings{"target.txt"});
  EXPECT_EQ(ReadFileBytes(In("real/ok.txt")), "inside after all");
  // A file that is a link is replaced by the file, not written through.
  EXPECT_FALSE(fs::is_symlink(In("b.txt")));
  EXPECT_EQ(ReadFileBytes(Sub("outside/target.txt")), "outside, untouched");
}

TEST_F(UpdateSafetyTest, InstallsIntoTheDirectoryGiven) {
  std::string target = Sub("elsewhere");
  MakeDirs(target);
  std::string output;
  ASSERT_EQ(Update({Release("rel1", kVersion1), "--dir", target}, &output), 0) << output;
  EXPECT_EQ(testing_support::ReadInstall(target), kVersion1);
  EXPECT_EQ(ReadListKeys(target + "/VerComp.dat").size(), kVersion1.size());
  EXPECT_EQ(Installed(), Tree());
  EXPECT_FALSE(FileExists(In("VerComp.dat")));
}

// verify names what differs from the list; --repair fetches it back.
TEST_F(UpdateSafetyTest, VerifyAndRepair) {
  InstallVersion1();
  std::string output;
  EXPECT_EQ(testing_support::Run({program_, "verify"}, &output), 0) << output;
  WriteFileBytes(In("b.txt"), "changed behind the updater's back");
  fs::remove(In("data/c.txt"));
  EXPECT_EQ(testing_support::Run({program_, "verify"}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "changed .\\b.txt")) << output;
  EXPECT_TRUE(Contains(output, "missing .\\data\\c.txt")) << output;
  EXPECT_FALSE(Contains(output, ".\\a.txt")) << output;

  EXPECT_EQ(Update({Sub("rel1"), "--repair"}, &output), 0) << output;
  EXPECT_EQ(Installed(), kVersion1);
  EXPECT_EQ(testing_support::Run({program_, "verify"}, &output), 0) << output;
}

}  // namespace

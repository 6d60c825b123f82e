// The install folder's own state, planted by whoever can write the folder or
// served by a bad release folder: a journal naming paths outside the folder
// or the updater's own files, a linked lock, a trusted key that cannot be
// read, named pipes where files belong, and what a failed update leaves in
// the staging folder. Releases are written with zlib and the MD5
// primitives; keys of planted files with the MD5 oracle.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_server.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::KeyOfBytes;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::WriteFileBytes;
using testing_support::WriteRelease;
using Strings = std::vector<std::string>;

const Tree kVersion1 = {
    {"a.txt", "alpha 1"},
    {"data/c.txt", "charlie 1"},
};

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

std::string ProgramName() { return std::string("filedist") + plat::kExecutableSuffix; }

bool Contains(const std::string& text, const std::string& piece) {
  return text.find(piece) != std::string::npos;
}

// One journal line: "remove," or "place," and a version-list record.
std::string JournalLine(const std::string& kind, const std::string& path,
                        const std::string& bytes) {
  return kind + "," + path + "," + KeyOfBytes(bytes) + "," + std::to_string(bytes.size()) + "\r\n";
}

std::string Journal(const Strings& lines) {
  std::string text = "filedist apply journal 1\r\n";
  for (const std::string& line : lines) text += line;
  return text + "end\r\n";
}

// Runs a shell command as a Unix program, also from a Windows program under
// Wine, which has no calls that make Unix links or named pipes; paths in it
// are Unix paths. False where there is no Unix side or the command failed.
bool RunUnixShell(const std::string& command, const std::string& marker) {
  if (testing_support::UnixPathOf(marker).empty()) return false;
  if (!testing_support::StartUnixProgram(
          {"/bin/sh", "-c", command + " && : > '" + testing_support::UnixPathOf(marker) + "'"})) {
    return false;
  }
  for (int i = 0; i < 500 && !FileExists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return FileExists(marker);
}

std::string Quoted(const std::string& path) {
  return "'" + testing_support::UnixPathOf(path) + "'";
}

// A symbolic link at link leading to target, as Unix makes it.
bool MakeUnixLink(const std::string& target, const std::string& link) {
  return RunUnixShell("ln -s " + Quoted(target) + " " + Quoted(link), link + ".made");
}

bool MakeNamedPipe(const std::string& path) {
  return RunUnixShell("mkfifo " + Quoted(path), path + ".made");
}

class UpdateStateTest : public ::testing::Test {
 protected:
  UpdateStateTest() {
    client_ = Sub("client");
    MakeDirs(client_);
    program_ = CopyProgramInto("filedist", client_);
    WriteRelease(Sub("rel1"), kVersion1);
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }
  std::string In(const std::string& relative) const { return client_ + "/" + relative; }

  // On POSIX a run that would block is cut off after a while (exit 124).
  int Filedist(Strings args, std::string* output) {
    args.insert(args.begin(), program_);
    if (!IsWindowsProgram()) args.insert(args.begin(), {"/usr/bin/timeout", "60"});
    return testing_support::Run(args, output);
  }

  int Update(Strings args, std::string* output) {
    args.insert(args.begin(), "update");
    return Filedist(args, output);
  }

  Tree Installed() { return testing_support::ReadInstall(client_, ProgramName()); }

  ScratchDir scratch_;
  std::string client_;
  std::string program_;
};

// A journal is state anyone who can write the folder can plant: the run
// that finds one acts on none of its entries that leave the folder or touch
// the updater's own files, and does not report success.
TEST_F(UpdateStateTest, PlantedJournalsReachNothingOutsideNorTheUpdatersFiles) {
  const std::string victim = "a file outside the install folder";
  const std::string attacker_key = "ed25519-public " + std::string(64, 'a') + "\n";
  struct Case {
    const char* name;
    bool needs_links;
    Strings lines;
    std::string guarded;   // a path that must keep its bytes (or stay absent)
    std::string expected;  // its bytes afterwards; "" when it must not exist
  };
  const std::string outside = Sub("outside");
  const std::vector<Case> cases = {
      {"remove through a folder link leading out",
       true,
       {JournalLine("remove", ".\\out\\victim.txt", victim)},
       Sub("outside/victim.txt"),
       victim},
      {"remove with a parent step",
       false,
       {JournalLine("remove", ".\\..\\outside\\victim.txt", victim)},
       Sub("outside/victim.txt"),
       victim},
      {"remove of an absolute path",
       false,
       {JournalLine("remove", Sub("outside/victim.txt"), victim)},
       Sub("outside/victim.txt"),
       victim},
      {"place of the trusted key",
       false,
       {JournalLine("place", ".\\filedist.pub", attacker_key)},
       In("filedist.pub"),
       ""},
      {"remove of the release floor",
       false,
       {JournalLine("remove", ".\\.filedist-release", "sequence 9\n")},
       In(".filedist-release"),
       "sequence 9\n"},
      {"place of the trusted key through a folder link back to the folder",
       true,
       {JournalLine("place", ".\\self\\filedist.pub", attacker_key)},
       In("filedist.pub"),
       ""},
      {"remove of the release floor through a folder link back to the folder",
       true,
       {JournalLine("remove", "self/.filedist-release", "sequence 9\n")},
       In(".filedist-release"),
       "sequence 9\n"},
      {"remove of the updater itself",
       false,
       {JournalLine("remove", ".\\" + ProgramName(), ReadFileBytes(program_))},
       program_,
       ReadFileBytes(program_)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(outside);
    MakeDirs(outside);
    WriteFileBytes(Sub("outside/victim.txt"), victim);
    fs::remove(In("filedist.pub"));
    WriteFileBytes(In(".filedist-release"), "sequence 9\n");
    if (c.needs_links && !FileExists(In("out.made"))) {
      ASSERT_TRUE(MakeUnixLink(outside, In("out")));
    }
    if (c.needs_links && !FileExists(In("self.made"))) {
      ASSERT_TRUE(MakeUnixLink(client_, In("self")));
    }
    // The staged copy a place entry would be finished from.
    MakeDirs(In(".filedist-staging"));
    WriteFileBytes(In(".filedist-staging/" + KeyOfBytes(attacker_key)), attacker_key);
    WriteFileBytes(In(".filedist-journal"), Journal(c.lines));

    std::string output;
    EXPECT_EQ(Update({Sub("rel1")}, &output), 1) << output;
    EXPECT_TRUE(Contains(output, "refusing the journal")) << output;
    if (c.expected.empty()) {
      EXPECT_FALSE(FileExists(c.guarded)) << output;
    } else {
      EXPECT_EQ(ReadFileBytes(c.guarded), c.expected) << output;
    }
    fs::remove(In(".filedist-journal"));
  }
  // Under Wine a link back to the folder looks like a folder to the scratch
  // folder's removal, which would walk it without end.
  if (FileExists(In("self.made"))) {
    EXPECT_TRUE(RunUnixShell("rm " + Quoted(In("self")), In("self.gone")));
  }
}

// The lock is the first file a run makes: one planted as a link to a name
// elsewhere must not make a file there (as root, an empty /etc/nologin
// locks every user out).
TEST_F(UpdateStateTest, LinkedLockMakesNoFileOutside) {
  MakeDirs(Sub("outside"));
  if (!MakeUnixLink(Sub("outside/nologin"), In(".filedist-lock"))) GTEST_SKIP() << "no Unix links";
  std::string output;
  EXPECT_EQ(Update({Sub("rel1")}, &output), 1) << output;
  EXPECT_FALSE(FileExists(Sub("outside/nologin"))) << output;
  EXPECT_EQ(Installed(), Tree()) << output;
}

// The installed version list is replaced by a rename, never written
// through: one planted as a link that leads nowhere makes no file where it
// leads, and one planted as a named pipe does not keep the run waiting.
TEST_F(UpdateStateTest, PlantedInstalledListMakesNoFileOutsideNorBlocks) {
  if (testing_support::UnixPathOf(client_).empty()) GTEST_SKIP() << "no Unix links or pipes";
  MakeDirs(Sub("outside"));
  ASSERT_TRUE(MakeUnixLink(Sub("outside/nologin"), In("VerComp.dat")));
  std::string output;
  Update({Sub("rel1")}, &output);
  EXPECT_FALSE(FileExists(Sub("outside/nologin"))) << output;

  // Wine opens a named pipe as a Windows program's file without waiting;
  // the harness's own look at one would.
  if (IsWindowsProgram()) return;
  fs::remove(In("VerComp.dat"));
  ASSERT_TRUE(MakeNamedPipe(In("VerComp.dat")));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Update({Sub("rel1")}, &output), 1) << output;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << output;
  EXPECT_TRUE(Contains(output, "VerComp.dat")) << output;
}

// A trusted key that is there in any form but cannot be read as a key
// stops the update, naming it; the release is never taken unverified.
TEST_F(UpdateStateTest, UnreadableTrustedKeyFailsClosed) {
  struct Case {
    const char* name;
    bool needs_links;
    void (*plant)(const std::string& path, const std::string& elsewhere);
  };
  const std::vector<Case> cases = {
      {"a link that leads nowhere", true,
       [](const std::string& path, const std::string& elsewhere) {
         ASSERT_TRUE(MakeUnixLink(elsewhere, path));
       }},
      {"a folder", false, [](const std::string& path, const std::string&) { MakeDirs(path); }},
      {"garbage", false,
       [](const std::string& path, const std::string&) { WriteFileBytes(path, "not a key\n"); }},
      {"an empty file", false,
       [](const std::string& path, const std::string&) { WriteFileBytes(path, ""); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Wine shows a Windows program no Unix link that leads nowhere.
    if (c.needs_links && IsWindowsProgram()) continue;
    fs::remove_all(In("filedist.pub"));
    c.plant(In("filedist.pub"), Sub("no-such-key.pub"));
    // The link's marker is no file of the install: the folder holds filedist's
    // own files alone, which the program takes for its install directory.
    fs::remove(In("filedist.pub.made"));
    std::string output;
    EXPECT_EQ(Update({Sub("rel1")}, &output), 1) << output;
    EXPECT_TRUE(Contains(output, "filedist.pub'")) << output;
    EXPECT_FALSE(Contains(output, "not verified")) << output;
    EXPECT_FALSE(FileExists(In("a.txt"))) << output;
  }
}

// A named pipe where a release folder has a file, or where a build has its
// Filters.ini, is refused at once instead of waiting for a writer forever.
TEST_F(UpdateStateTest, NamedPipesInReleaseFoldersDoNotBlock) {
  if (testing_support::UnixPathOf(client_).empty()) GTEST_SKIP() << "no Unix named pipes";
  struct Case {
    const char* name;
    std::string pipe;    // below the releases folder
    std::string source;  // what update is given, below the releases folder
    int status;          // the run's exit status
  };
  const std::string patch = "Patch_20260101_000000";
  Strings pipes;
  const std::vector<Case> cases = {
      // An unsigned client reads the Manifest only for the modes it gives.
      {"Manifest", patch + "/Manifest", patch, 0},
      {"a listed file", patch + "/a.txt", patch, 1},
      {"LATEST", "LATEST", "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string releases = Sub(std::string("releases-") + c.name);
    WriteRelease(releases + "/" + patch, kVersion1);
    fs::remove(releases + "/" + c.pipe);
    ASSERT_TRUE(MakeNamedPipe(releases + "/" + c.pipe));
    pipes.push_back(releases + "/" + c.pipe);
    std::string output;
    std::string client = Sub(std::string("client-") + c.name);
    MakeDirs(client);
    std::string source = c.source.empty() ? releases : releases + "/" + c.source;
    EXPECT_EQ(Update({source, "--dir", client}, &output), c.status) << output;
  }

  // The build reads Filters.ini from its packer directory.
  MakeDirs(Sub("packer"));
  std::string packer = CopyProgramInto("filedist", Sub("packer"));
  ASSERT_TRUE(MakeNamedPipe(Sub("packer/Filters.ini")));
  pipes.push_back(Sub("packer/Filters.ini"));
  MakeDirs(Sub("source"));
  WriteFileBytes(Sub("source/a.txt"), "alpha");
  Strings build = {packer, "build", Sub("source"), "--releases", Sub("built")};
  if (!IsWindowsProgram()) build.insert(build.begin(), {"/usr/bin/timeout", "60"});
  std::string output;
  // Neither waited on nor taken for an empty Filters.ini, which would
  // release what the filters were to leave out: the build stops, naming it.
  // Wine shows a Windows program no file at a Unix pipe's name, as if there
  // were no Filters.ini.
  const int status = testing_support::Run(build, &output);
  if (IsWindowsProgram()) {
    EXPECT_EQ(status, 0) << output;
  } else {
    EXPECT_EQ(status, 1) << output;
    EXPECT_NE(output.find("Filters.ini"), std::string::npos) << output;
  }
  // Wine opens a named pipe to delete it, and would wait there.
  std::string removal = "rm -f";
  for (const std::string& pipe : pipes) removal += " " + Quoted(pipe);
  EXPECT_TRUE(RunUnixShell(removal, Sub("pipes.removed")));
}

// Holds a lock on a file from a Unix process of its own until a second
// file appears: a POSIX record lock on the first byte ("posix": what
// wineserver takes for a Windows program's LockFileEx) or an open file
// description lock on the whole file ("ofd": what the native filedist
// takes). The first process returns once the lock is held (marker says
// "held") so that the caller need not wait for it.
const char kLockHolder[] = R"PY(
import fcntl, os, struct, sys, time
path, kind, marker, release = sys.argv[1:5]
if os.fork() != 0:
    deadline = time.time() + 20
    while not os.path.exists(marker) and time.time() < deadline:
        time.sleep(0.02)
    sys.exit(0)
fd = os.open(path, os.O_RDWR | os.O_CREAT)
try:
    if kind == "ofd":
        fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack("hhqqi4x", fcntl.F_WRLCK, 0, 0, 0, 0))
    else:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0)
    state = "held"
except OSError as error:
    state = str(error)
with open(marker + ".tmp", "w") as out:
    out.write(state)
os.rename(marker + ".tmp", marker)
deadline = time.time() + 60
while not os.path.exists(release) and time.time() < deadline:
    time.sleep(0.02)
)PY";

// filedist and filedist.exe under Wine on one folder exclude each other:
// each refuses to run while the other's kind of lock is held on the lock
// file.
TEST_F(UpdateStateTest, NativeAndWindowsClientsTakeOneLock) {
  if (testing_support::UnixPathOf(client_).empty()) GTEST_SKIP() << "no Unix side to lock from";
  WriteFileBytes(Sub("holder.py"), kLockHolder);
  WriteFileBytes(In(".filedist-lock"), "");
  std::string marker = Sub("held");
  ASSERT_TRUE(testing_support::StartUnixProgram(
      {"/usr/bin/python3", testing_support::UnixPathOf(Sub("holder.py")),
       testing_support::UnixPathOf(In(".filedist-lock")), IsWindowsProgram() ? "ofd" : "posix",
       testing_support::UnixPathOf(marker), testing_support::UnixPathOf(Sub("release"))}));
  for (int i = 0; i < 1000 && !FileExists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(ReadFileBytes(marker), "held");
  std::string output;
  EXPECT_EQ(Update({Sub("rel1")}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "another update")) << output;
  WriteFileBytes(Sub("release"), "");
  // The holder ends within a moment of seeing that file.
  int status = 1;
  for (int i = 0; i < 100 && status != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    status = Update({Sub("rel1")}, &output);
  }
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(Installed(), kVersion1);
}

// A failed update says how much its staging folder keeps; update --clean
// removes it, but not while an interrupted apply still needs it.
TEST_F(UpdateStateTest, StagingLeftByAFailureIsNamedAndCleaned) {
  Tree tree = kVersion1;
  tree["big.bin"] = std::string(300000, 'b');
  tree["bad.txt"] = "the genuine bytes";
  testing_support::KeyList listed;
  Tree served;
  served["bad.txt"] = testing_support::ZlibGzip("bytes the key does not describe");
  WriteRelease(Sub("rel2"), tree, listed, served);
  std::string output;
  EXPECT_EQ(Update({Sub("rel2"), "--jobs", "1"}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "keeps 293.0 KiB")) << output;
  ASSERT_TRUE(fs::is_directory(In(".filedist-staging")));

  WriteFileBytes(In(".filedist-journal"),
                 Journal({JournalLine("place", ".\\big.bin", tree.at("big.bin"))}));
  EXPECT_EQ(Update({"--clean"}, &output), 1) << output;
  EXPECT_TRUE(Contains(output, "interrupted update")) << output;
  EXPECT_TRUE(fs::is_directory(In(".filedist-staging")));

  fs::remove(In(".filedist-journal"));
  Filedist({"verify", "--clean"}, &output);
  EXPECT_TRUE(Contains(output, "removed the staging folder (293.0 KiB)")) << output;
  EXPECT_FALSE(fs::exists(In(".filedist-staging"))) << output;
  EXPECT_EQ(Update({"--clean"}, &output), 0) << output;
}

}  // namespace

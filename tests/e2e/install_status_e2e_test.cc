// `filedist status`, the source an update remembers and `update --check`, as
// a user meets them over HTTP: what the folder holds before and after, the
// check's exit codes, a later update without SOURCE, and the work an
// interrupted update leaves waiting.
#include <string>

#include "e2e/release_ops_fixture.h"
#include "support/json_oracle.h"

namespace {

using namespace release_ops;

TEST_F(ReleaseOps, StatusCheckAndRememberedSourceOverHttp) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("signer");
  const std::string first = Build(kFirst, "releases", {"--sign", Sub("signer.key")});
  std::string client = NewClient("client", "signer");
  std::string output;

  // Before any update: nothing recorded, nothing to remember.
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "release"), "none recorded (no update has finished here)") << output;
  EXPECT_EQ(Field(output, "waiting"), "nothing") << output;
  EXPECT_EQ(Client(client, {"update"}, &output), 2) << output;
  EXPECT_NE(output.find("SOURCE is missing"), std::string::npos) << output;

  const std::string source = Url("releases/");
  ASSERT_EQ(Client(client, {"update", source, "--quiet"}, &output), 0) << output;
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "release"), first + " (sequence 1, signature verified)") << output;
  EXPECT_EQ(Field(output, "channel"), "stable") << output;
  EXPECT_EQ(Field(output, "source"), source) << output;
  EXPECT_EQ(Field(output, "files"), "3 listed in VerComp.dat") << output;
  EXPECT_EQ(Field(output, "installed").size(), 20u) << output;

  // --check: 0 when up to date, 3 (and the size) when a release is waiting;
  // neither changes a file.
  EXPECT_EQ(Client(client, {"update", "--check"}, &output), 0) << output;
  EXPECT_EQ(output, "up to date with " + first + "\n");
  const std::string second = Build(kSecond, "releases", {"--sign", Sub("signer.key")});
  EXPECT_EQ(Client(client, {"update", "--check"}, &output), 3) << output;
  EXPECT_EQ(output, "an update is available: " + second + ", 1 files to fetch, " +
                        std::to_string(fs::file_size(Sub("releases/" + second + "/bin/app.exe"))) +
                        " bytes\n");
  EXPECT_EQ(ClientFiles(client, kFirst), kFirst);

  // The remembered source: no SOURCE needed.
  ASSERT_EQ(Client(client, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kSecond), kSecond);
  EXPECT_EQ(Client(client, {"update", "--check"}, &output), 0) << output;
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "release"), second + " (sequence 2, signature verified)") << output;
  EXPECT_EQ(Field(output, "source"), source) << output;

  if (testing_support::CanRunPython()) {
    std::string out, err;
    ASSERT_EQ(testing_support::RunApart(
                  {client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix, "status",
                   "--json"},
                  &out, &err),
              0)
        << err;
    EXPECT_EQ(testing_support::CheckJson(
                  out,
                  "assert d['command'] == 'status' and d['status'] == 'ok'\n"
                  "r = d['release']\n"
                  "assert r['patch'] == '" +
                      second +
                      "' and r['sequence'] == 2\n"
                      "assert r['verified'] is True and r['channel'] == 'stable'\n"
                      "assert d['source'] == '" +
                      source +
                      "' and d['files'] == 3\n"
                      "assert d['journal_waiting'] is False and d['staged_files'] == 0\n"),
              "");
  }
}

// "Run again to retry" holds for a first update that failed: the source it
// was given is kept (and the channel), and the bare update then finishes it.
// An install from a patch directory remembers the releases folder it lies
// in, so that later bare updates take the releases after it.
TEST_F(ReleaseOps, AFailedFirstUpdateAndAPatchDirectoryAreRememberedForTheNextRun) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("signer");
  const std::string first = Build(kFirst, "releases", {"--sign", Sub("signer.key")});
  std::string output;

  std::string retried = NewClient("retried", "signer");
  const std::string app = Sub("releases/" + first + "/bin/app.exe");
  fs::rename(app, app + ".away");
  ASSERT_EQ(Client(retried, {"update", Url("releases/"), "--quiet", "--retries", "0"}, &output), 1)
      << output;
  fs::rename(app + ".away", app);
  ASSERT_EQ(Client(retried, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(retried, kFirst), kFirst);
  ASSERT_EQ(Client(retried, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "source"), Url("releases/")) << output;
  EXPECT_FALSE(fs::exists(retried + "/.filedist-source"));

  std::string pinned = NewClient("pinned", "signer");
  ASSERT_EQ(Client(pinned, {"update", Url("releases/" + first), "--quiet"}, &output), 0) << output;
  ASSERT_EQ(Client(pinned, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "source"), Url("releases")) << output;
  Build(kSecond, "releases", {"--sign", Sub("signer.key")});
  ASSERT_EQ(Client(pinned, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(pinned, kSecond), kSecond);
}

// A filedist installed among other programs (/usr/bin, Program Files) does
// not take their folder for its install directory; --dir names the one to
// update, and a dry run says which it is. A fresh folder holding filedist
// alone (the quick start's client) is still updated without --dir.
TEST_F(ReleaseOps, AProgramAmongOthersUpdatesOnlyTheFolderDirNames) {
  Build(kFirst, "releases");
  const std::string releases = Sub("releases");
  std::string output;
  std::string shared = NewClient("bin");
  testing_support::WriteFileBytes(shared + "/other-program", "someone else's");
  EXPECT_EQ(Client(shared, {"update", releases}, &output), 1) << output;
  EXPECT_NE(output.find("pass --dir"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(shared, kFirst), Tree());
  EXPECT_FALSE(fs::exists(shared + "/VerComp.dat"));

  const std::string target = Sub("target");
  testing_support::MakeDirs(target);
  EXPECT_EQ(Client(shared, {"update", releases, "--dir", target, "--dry-run"}, &output), 0)
      << output;
  EXPECT_NE(output.find("install directory: " + target + "\n"), std::string::npos) << output;
  EXPECT_EQ(Client(shared, {"update", releases, "--dir", target, "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(target, kFirst), kFirst);

  std::string fresh = NewClient("fresh");
  EXPECT_EQ(Client(fresh, {"update", releases, "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(fresh, kFirst), kFirst);
}

// What the next update will pick up is shown, and a record that is not one
// this updater wrote is reported, not taken as a source.
TEST_F(ReleaseOps, StatusShowsWaitingWorkAndRefusesADamagedRecord) {
  const std::string first = Build(kFirst, "releases");
  std::string client = NewClient("client");
  std::string output;
  ASSERT_EQ(Client(client, {"update", Sub("releases"), "--quiet"}, &output), 0) << output;
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "release"), first + " (sequence 1, not verified)") << output;
  EXPECT_EQ(Field(output, "source"), fs::path(Sub("releases")).lexically_normal().string())
      << output;

  testing_support::MakeDirs(client + "/.filedist-staging");
  testing_support::WriteFileBytes(client + "/.filedist-staging/0123456789abcdef0123456789abcdef",
                                  "checked");
  testing_support::WriteFileBytes(client + "/.filedist-staging/data.resume", "record");
  testing_support::WriteFileBytes(client + "/.filedist-journal",
                                  "filedist apply journal 1\r\n"
                                  "place,.\\readme.txt,0123456789abcdef0123456789abcdef,7\r\n"
                                  "end\r\n");
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_NE(output.find("waiting: an interrupted update of 1 files"), std::string::npos) << output;
  EXPECT_NE(output.find("waiting: 1 checked files and 1 cut-off transfers"), std::string::npos)
      << output;

  testing_support::WriteFileBytes(client + "/.filedist-install", "source /elsewhere\n");
  EXPECT_EQ(Client(client, {"status"}, &output), 1) << output;
  EXPECT_NE(output.find("damaged"), std::string::npos) << output;
  EXPECT_EQ(Client(client, {"update"}, &output), 1) << output;
  EXPECT_NE(output.find("damaged"), std::string::npos) << output;
}

}  // namespace

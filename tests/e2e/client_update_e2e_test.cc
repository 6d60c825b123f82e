// `filedist update` as a user runs it: releases made with `filedist build`
// in a packer directory, and a client directory that holds its own copy of
// filedist, which it brings up to date from a folder or a web server.
#include <gtest/gtest.h>

#ifndef _WIN32
#  include <fcntl.h>
#  include <signal.h>
#  include <sys/wait.h>
#  include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "e2e/two_versions.h"
#include "platform/platform.h"
#include "support/release_oracles.h"
#include "support/test_server.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::TestServer;
using testing_support::WriteFileBytes;
using two_versions::Tree;
using Strings = std::vector<std::string>;

using two_versions::kVersion1;
using two_versions::kVersion2;

void WriteTree(const std::string& root, const Tree& tree) {
  for (const auto& [relative, bytes] : tree) {
    fs::path path = fs::path(root) / fs::path(relative);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path.string(), bytes);
  }
}

// Every file below root except the ones named in skip.
Tree ReadTree(const std::string& root, const Strings& skip) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    std::string relative = fs::relative(item.path(), root).generic_string();
    if (std::find(skip.begin(), skip.end(), relative) != skip.end()) continue;
    // The updater's lock, staging folder and journal.
    if (relative.compare(0, 10, ".filedist-") == 0) continue;
    tree[relative] = ReadFileBytes(item.path().string());
  }
  return tree;
}

// path -> key of a version list.
std::map<std::string, std::string> ListKeys(const std::string& list) {
  VersionEntry* records = nullptr;
  int count = 0;
  std::map<std::string, std::string> keys;
  EXPECT_EQ(LoadVersionInfo(list.c_str(), &records, &count), 1) << list;
  for (int i = 0; i < count; ++i) keys[records[i].path] = records[i].key;
  FreeVersionInfo(&records);
  return keys;
}

class ClientUpdateTest : public ::testing::Test {
 protected:
  ClientUpdateTest() {
    MakeDirs(Sub("packer"));
    packer_ = CopyProgramInto("filedist", Sub("packer"));
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  // Builds tree as a release below releases and gives its patch directory.
  std::string Release(const Tree& tree, const std::string& name) {
    WriteTree(Sub(name), tree);
    std::string output;
    EXPECT_EQ(testing_support::Run({packer_, "build", Sub(name), "--releases", Sub("rel-" + name)},
                                   &output),
              0)
        << output;
    Strings lines = SplitLines(output);
    return lines.empty() ? std::string() : lines.back();
  }

  // A client directory holding nothing but its own filedist.
  std::string NewClient(const std::string& name) {
    MakeDirs(Sub(name));
    CopyProgramInto("filedist", Sub(name));
    return Sub(name);
  }

  int Update(const std::string& client, Strings args, std::string* output) {
    args.insert(args.begin(),
                {client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix, "update"});
    return testing_support::Run(args, output);
  }

  Tree ClientFiles(const std::string& client) {
    return ReadTree(client, {std::string("filedist") + plat::kExecutableSuffix, "VerComp.dat"});
  }

  // The keys v1 or v2's build listed: its packer's plain VerComp.dat.
  std::map<std::string, std::string> PackerKeys() { return ListKeys(Sub("packer/VerComp.dat")); }

  // Walks a client from nothing to v1 and then to v2 from source(patch).
  void RunScenario(const std::string& client,
                   const std::function<std::string(const std::string&)>& source) {
    std::string output;
    std::string patch1 = Release(kVersion1, "v1");
    std::map<std::string, std::string> keys1 = PackerKeys();
    ASSERT_EQ(Update(client, {source(patch1)}, &output), 0) << output;
    EXPECT_EQ(ClientFiles(client), kVersion1);
    EXPECT_EQ(ListKeys(client + testing_support::Sep() + "VerComp.dat"), keys1);

    std::string patch2 = Release(kVersion2, "v2");
    std::map<std::string, std::string> keys2 = PackerKeys();
    ASSERT_EQ(Update(client, {source(patch2)}, &output), 0) << output;
    Tree expected = kVersion2;
    expected["old.txt"] = kVersion1.at("old.txt");  // kept without --prune
    EXPECT_EQ(ClientFiles(client), expected);
    EXPECT_NE(output.find("--prune"), std::string::npos) << output;
    std::map<std::string, std::string> installed =
        ListKeys(client + testing_support::Sep() + "VerComp.dat");
    for (const auto& [path, key] : keys2) EXPECT_EQ(installed[path], key) << path;
    // Records are never dropped from a client's list.
    EXPECT_EQ(installed.count(".\\old.txt"), 1u);

    ASSERT_EQ(Update(client, {source(patch2), "--prune"}, &output), 0) << output;
    EXPECT_EQ(ClientFiles(client), kVersion2);
    EXPECT_NE(output.find("removed .\\old.txt"), std::string::npos) << output;

    // Up to date: nothing more to fetch.
    ASSERT_EQ(Update(client, {source(patch2)}, &output), 0) << output;
    EXPECT_NE(output.find("already up to date"), std::string::npos) << output;
  }

  ScratchDir scratch_;
  std::string packer_;
};

TEST_F(ClientUpdateTest, FromAFolder) {
  RunScenario(NewClient("client"), [](const std::string& patch) { return patch; });
}

// nginx serving the scratch directory: a release is reached at the path of
// its patch directory below it.
class ServedUpdateTest : public ClientUpdateTest {
 protected:
  // Starts kind ("nginx" or "faults"); false skips the test.
  bool StartServer(const std::string& kind, bool tls = false) {
    if (!testing_support::CanStartTestServers(kind)) return false;
    std::string work = Sub("server-" + kind);
    MakeDirs(work);
    std::string failure;
    if (tls && !testing_support::MakeTestCertificates(work, &failure)) {
      ADD_FAILURE() << failure;
      return false;
    }
    server_ = std::make_unique<TestServer>(kind, scratch_.path(), work);
    EXPECT_TRUE(server_->ok()) << server_->failure();
    return server_->ok();
  }

  // The URL of patch (a directory below the scratch directory) on the server.
  std::string UrlOf(const std::string& patch, const std::string& server = "http",
                    const std::string& prefix = "") {
    std::string relative = fs::relative(patch, scratch_.path()).generic_string();
    return server_->Url(server) + "/" + prefix + relative;
  }

  std::unique_ptr<TestServer> server_;
};

TEST_F(ServedUpdateTest, OverHttp) {
  if (!StartServer("nginx")) GTEST_SKIP() << "nginx or python3 cannot be started here";
  std::string client = NewClient("client");
  std::string output;
  RunScenario(client, [&](const std::string& patch) { return UrlOf(patch); });

  // A release that is not there is an error, not an empty release, and
  // says so; --quiet prints that error and nothing else.
  EXPECT_EQ(Update(client, {server_->Url("http") + "/no-such-release", "--quiet"}, &output), 1);
  EXPECT_EQ(SplitLines(output).size(), 1u) << output;
  EXPECT_NE(output.find("no release found at '" + server_->Url("http") + "/no-such-release'"),
            std::string::npos)
      << output;
  EXPECT_EQ(ClientFiles(client), kVersion2);

  std::string quiet_client = NewClient("quiet-client");
  ASSERT_EQ(Update(quiet_client, {UrlOf(Release(kVersion1, "v3")), "--quiet"}, &output), 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(ClientFiles(quiet_client), kVersion1);
}

// A client pointed once at the releases folder follows its LATEST, which
// each build rewrites, over a folder and over HTTP.
TEST_F(ClientUpdateTest, FollowsLatestOfTheReleasesFolder) {
  const std::string releases = Sub("releases");
  auto build = [&](const Tree& tree, const std::string& name) {
    WriteTree(Sub(name), tree);
    std::string output;
    EXPECT_EQ(testing_support::Run({packer_, "build", Sub(name), "--releases", releases}, &output),
              0)
        << output;
    Strings lines = SplitLines(output);
    std::string patch = lines.empty() ? std::string() : lines.back();
    // LATEST names it, and nothing of the writing is left beside it.
    EXPECT_EQ(ReadFileBytes(releases + testing_support::Sep() + "LATEST"),
              fs::path(patch).filename().string() + "\n");
    for (const auto& item : fs::directory_iterator(releases)) {
      EXPECT_EQ(item.path().filename().string().find(".tmp"), std::string::npos) << item.path();
    }
    return patch;
  };
  bool http = testing_support::CanStartTestServers("nginx");
  std::unique_ptr<TestServer> server;
  if (http) {
    MakeDirs(Sub("server"));
    server = std::make_unique<TestServer>("nginx", scratch_.path(), Sub("server"));
    EXPECT_TRUE(server->ok()) << server->failure();
  }
  std::string folder_client = NewClient("folder-client");
  std::string web_client = NewClient("web-client");
  std::string output;

  std::string patch1 = build(kVersion1, "v1");
  ASSERT_EQ(Update(folder_client, {releases}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client), kVersion1);
  if (http && server->ok()) {
    ASSERT_EQ(Update(web_client, {server->Url("http") + "/releases/"}, &output), 0) << output;
    EXPECT_EQ(ClientFiles(web_client), kVersion1) << output;
  }

  std::string patch2 = build(kVersion2, "v2");
  EXPECT_NE(patch1, patch2);
  ASSERT_EQ(Update(folder_client, {releases, "--prune"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client), kVersion2);
  if (http && server->ok()) {
    ASSERT_EQ(Update(web_client, {server->Url("http") + "/releases", "--prune"}, &output), 0)
        << output;
    EXPECT_EQ(ClientFiles(web_client), kVersion2);
  }
  // A patch directory given directly is taken as it is.
  ASSERT_EQ(Update(folder_client, {patch1}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client).at("data/a.txt"), kVersion1.at("data/a.txt"));

  // A LATEST that names no patch directory is refused, not followed.
  WriteFileBytes(releases + testing_support::Sep() + "LATEST", "../../etc\n");
  EXPECT_EQ(Update(folder_client, {releases}, &output), 1);
  EXPECT_NE(output.find("does not name a patch directory"), std::string::npos) << output;

  // A LATEST longer than a pointer can be is no LATEST, as over HTTP: it is
  // never cut to the name at its start and followed.
  WriteFileBytes(releases + testing_support::Sep() + "LATEST",
                 fs::path(patch2).filename().string() + std::string(300, ' ') + "x\n");
  EXPECT_EQ(Update(folder_client, {releases}, &output), 1) << output;
  EXPECT_EQ(ClientFiles(folder_client).at("data/a.txt"), kVersion1.at("data/a.txt"));
}

// Certificates are checked: --ca trusts the test's own authority, and only
// for a certificate of that authority made out to the host in the URL.
TEST_F(ServedUpdateTest, OverHttpsTheCertificateIsChecked) {
  if (!StartServer("nginx", true)) GTEST_SKIP() << "nginx, openssl or python3 cannot be started";
  std::string patch = Release(kVersion1, "v1");
  std::string ca = Sub("server-nginx/certs/ca.pem");
  struct Case {
    const char* name;
    const char* server;
    bool with_ca;
    bool installs;
  } cases[] = {
      {"the test's authority, for localhost", "https", true, true},
      {"an authority the system does not know", "https", false, false},
      {"a certificate for another host name", "wronghost", true, false},
      {"a certificate of another authority", "otherca", true, false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string client = NewClient("client" + std::to_string(index++));
    Strings args = {UrlOf(patch, c.server), "--retries", "0"};
    if (c.with_ca) args.insert(args.end(), {"--ca", ca});
    std::string output;
    EXPECT_EQ(Update(client, args, &output), c.installs ? 0 : 1) << output;
    EXPECT_EQ(ClientFiles(client), c.installs ? kVersion1 : Tree()) << output;
    if (!c.installs) {
      EXPECT_NE(output.find("cannot fetch the version list"), std::string::npos) << output;
    }
  }
}

// The user asked for a secure transfer: a redirect to plain http is refused
// by name, not followed while the output still says https.
TEST_F(ServedUpdateTest, OverHttpsARedirectToPlainHttpIsRefused) {
  if (!StartServer("nginx", true)) GTEST_SKIP() << "nginx, openssl or python3 cannot be started";
  std::string patch = Release(kVersion1, "v1");
  std::string client = NewClient("client");
  std::string output;
  EXPECT_EQ(Update(client,
                   {UrlOf(patch, "https", "to-http/"), "--retries", "0", "--ca",
                    Sub("server-nginx/certs/ca.pem")},
                   &output),
            1)
      << output;
  EXPECT_NE(output.find("refusing the redirect from https to the insecure 'http://"),
            std::string::npos)
      << output;
  EXPECT_EQ(ClientFiles(client), Tree()) << output;
}

// What a flaky or hostile server does to an update, and what the client
// makes of it. Faults hit the release's files, not its lists.
TEST_F(ServedUpdateTest, ServerFaults) {
  if (!StartServer("faults")) GTEST_SKIP() << "python3 cannot be started here";
  std::string patch = Release(kVersion1, "v1");
  std::string sep(1, testing_support::Sep());
  // readme.txt as the release serves it, compressed.
  uint64_t readme_size = ReadFileBytes(patch + sep + "readme.txt").size();
  std::string readme = fs::relative(patch, scratch_.path()).generic_string() + "/readme.txt";
  std::string resumed = readme + " bytes=" + std::to_string(readme_size / 2) + "-\n";
  struct Case {
    const char* fault;
    Strings options;
    bool installs;
    const char* says;    // in the output
    std::string logged;  // a line of the server's log, after "FAULT-N "
    int times;           // how often
  } cases[] = {
      // Two 503s, then the file: tried three times.
      {"flaky", {}, true, "", readme + " -\n", 3},
      {"flaky", {"--retries", "0"}, false, "HTTP 503", readme + " -\n", 1},
      // Cut off half way: the rest is asked for with a range.
      {"cut", {}, true, "", resumed, 1},
      // A server that ignores the range sends the whole file again.
      {"cutwhole", {}, true, "", resumed, 1},
      // Two bytes a second is given up on well before the file is done.
      {"trickle", {"--timeout", "2", "--retries", "0"}, false, "slower than", "", 0},
      // More than the release lists for the file is cut off at once.
      {"long", {}, false, "longer than the", "", 0},
      // A captive portal's page is no release.
      {"html", {}, false, "nothing was installed", "", 0},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + (c.options.empty() ? "" : " " + c.options[0]));
    std::string client = NewClient("client" + std::to_string(index++));
    std::string prefix = std::string(c.fault) + "-" + std::to_string(index);
    std::string url = UrlOf(patch, "http", prefix + "/");
    Strings args = {url};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string output;
    EXPECT_EQ(Update(client, args, &output), c.installs ? 0 : 1) << output;
    EXPECT_EQ(ClientFiles(client), c.installs ? kVersion1 : Tree()) << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
    if (c.times > 0) {
      std::string log = server_->FaultLog();
      std::string line = prefix + " " + c.logged;
      int seen = 0;
      for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) {
        if (at == 0 || log[at - 1] == '\n') ++seen;
      }
      EXPECT_EQ(seen, c.times) << line << "\n" << log;
    }
  }
}

// Headers that never end stop a transfer within --timeout, however fast
// they come; the server goes on for a minute, so a client that waits for
// the end of them takes that long. Nor are they asked for again with the
// default retries: each try would take as long (a Windows client took
// 4 x 2 x --timeout and the pauses between, over 20 s here); a client that
// fails at once may try again, its pauses being a few seconds in all.
TEST_F(ServedUpdateTest, EndlessHeadersStopWithinTheTimeout) {
  if (!StartServer("faults")) GTEST_SKIP() << "python3 cannot be started here";
  std::string patch = Release(kVersion1, "v1");
  std::string client = NewClient("client");
  std::string output;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Update(client, {UrlOf(patch, "http", "headers-1/"), "--timeout", "2"}, &output), 1)
      << output;
  auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
          .count();
  EXPECT_LT(seconds, 16) << output;
  EXPECT_NE(output.find("cannot fetch"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), Tree()) << output;
}

// A run cut off part-way through a file keeps what came; the next run asks
// for the rest with a range request, and checks the whole file's key.
TEST_F(ServedUpdateTest, NextRunGoesOnWhereOneWasCutOff) {
  if (!StartServer("faults")) GTEST_SKIP() << "python3 cannot be started here";
  std::string patch = Release(kVersion1, "v1");
  std::string sep(1, testing_support::Sep());
  uint64_t readme_size = ReadFileBytes(patch + sep + "readme.txt").size();
  std::string url = UrlOf(patch, "http", "cut-1/");
  std::string client = NewClient("client");
  std::string output;
  EXPECT_EQ(Update(client, {url, "--retries", "0"}, &output), 1) << output;
  EXPECT_EQ(ClientFiles(client), Tree());
  ASSERT_EQ(Update(client, {url, "--retries", "0"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client), kVersion1);
  std::string resumed = "cut-1 " + fs::relative(patch, scratch_.path()).generic_string() +
                        "/readme.txt bytes=" + std::to_string(readme_size / 2) + "-\n";
  EXPECT_NE(server_->FaultLog().find(resumed), std::string::npos) << server_->FaultLog();
}

#ifndef _WIN32
// Ctrl-C while files arrive slowly: the run says it stopped and how to go
// on, exits 130, and keeps what came; the next run asks only for the rest
// (with a range request).
TEST_F(ServedUpdateTest, CtrlCKeepsWhatCameForTheNextRun) {
  if (!StartServer("faults")) GTEST_SKIP() << "python3 cannot be started here";
  std::string patch = Release(kVersion1, "v1");
  std::string readme = fs::relative(patch, scratch_.path()).generic_string() + "/readme.txt";
  std::string client = NewClient("client");
  const std::string output_path = Sub("interrupted-output");
  const Strings argv = {
      client + "/filedist", "update", UrlOf(patch, "http", "drip-1/"), "--timeout", "60",
      "--retries",          "0"};
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0) _exit(127);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  // The server sends half of the file at once and a byte every half second.
  for (int waited = 0; waited < 600; ++waited) {
    if (server_->FaultLog().find("drip-1 " + readme + " -") != std::string::npos) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  std::string output = ReadFileBytes(output_path);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n"
                                 << output << server_->FaultLog();
  EXPECT_EQ(WEXITSTATUS(status), 130) << output;
  EXPECT_NE(output.find("stopped; run 'filedist update' again to continue"), std::string::npos)
      << output;
  EXPECT_EQ(ClientFiles(client), Tree()) << output;
  EXPECT_FALSE(testing_support::NamesIn(client + "/.filedist-staging").empty()) << output;

  ASSERT_EQ(Update(client, {UrlOf(patch, "http", "plain-1/"), "--retries", "0"}, &output), 0)
      << output;
  EXPECT_EQ(ClientFiles(client), kVersion1);
  EXPECT_NE(server_->FaultLog().find("plain-1 " + readme + " bytes="), std::string::npos)
      << server_->FaultLog();
}
#endif

// --jobs N fetches up to N files at once, and no more.
TEST_F(ServedUpdateTest, FetchesFilesInParallel) {
  if (!StartServer("faults")) GTEST_SKIP() << "python3 cannot be started here";
  std::string patch = Release(kVersion1, "v1");
  const struct {
    const char* jobs;
    const char* most;  // requests under way at once, as the server saw them
  } cases[] = {{"1", "most 1\n"}, {"3", "most 3\n"}};
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("--jobs ") + c.jobs);
    std::string prefix = "slow-" + std::to_string(++index);
    std::string client = NewClient("client" + std::to_string(index));
    std::string output;
    ASSERT_EQ(Update(client, {UrlOf(patch, "http", prefix + "/"), "--jobs", c.jobs}, &output), 0)
        << output;
    EXPECT_EQ(ClientFiles(client), kVersion1);
    std::string log = server_->FaultLog();
    size_t last = log.rfind(prefix + " most ");
    ASSERT_NE(last, std::string::npos) << log;
    EXPECT_EQ(log.substr(last + prefix.size() + 1, std::strlen(c.most)), c.most) << log;
  }
}

TEST_F(ClientUpdateTest, DryRunChangesNothing) {
  std::string client = NewClient("client");
  std::string patch = Release(kVersion1, "v1");
  std::string output;
  ASSERT_EQ(Update(client, {patch, "--dry-run"}, &output), 0) << output;
  EXPECT_NE(output.find("would fetch 4 files"), std::string::npos) << output;
  EXPECT_NE(output.find("new     .\\data\\a.txt"), std::string::npos) << output;
  // Both sizes: the file's (from the Manifest) and the compressed one the
  // list gives, which is what is fetched.
  const std::string compressed = std::to_string(
      fs::file_size(patch + testing_support::Sep() + "data" + testing_support::Sep() + "a.txt"));
  EXPECT_NE(
      output.find("new     .\\data\\a.txt (" + std::to_string(kVersion1.at("data/a.txt").size()) +
                  " bytes, " + compressed + " bytes compressed)"),
      std::string::npos)
      << output;
  EXPECT_EQ(ClientFiles(client), Tree());
  EXPECT_FALSE(FileExists(client + testing_support::Sep() + "VerComp.dat"));

  ASSERT_EQ(Update(client, {patch}, &output), 0) << output;
  std::string patch2 = Release(kVersion2, "v2");
  ASSERT_EQ(Update(client, {patch2, "--dry-run", "--prune"}, &output), 0) << output;
  EXPECT_NE(output.find("would fetch 2 files"), std::string::npos) << output;
  EXPECT_NE(output.find("changed .\\data\\a.txt"), std::string::npos) << output;
  EXPECT_NE(output.find("obsolete .\\old.txt"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), kVersion1);
}

// A list from a server must not reach outside the install directory.
TEST_F(ClientUpdateTest, RefusesPathsOutsideTheInstallDirectory) {
  const Strings bad_paths = {"..\\escaped.txt", ".\\data\\..\\..\\escaped.txt", "/tmp/escaped.txt",
                             "\\escaped.txt", "C:\\escaped.txt"};
  for (const std::string& bad : bad_paths) {
    ScratchDir scratch;
    std::string source = scratch.Sub("release");
    MakeDirs(source + "/data");
    WriteFileBytes(source + "/data/good.txt", "good");
    // A plain list and key file are taken as they are.
    std::string list = ".\\data\\good.txt,b8a9f715dbb64fd5c56e7783c6820a61,4\r\n" + bad +
                       ",b8a9f715dbb64fd5c56e7783c6820a61,4\r\n";
    WriteFileBytes(source + "/VerComp.dat", list);
    WriteFileBytes(source + "/Ver", testing_support::KeyOfBytes(list) + "\r\n");
    std::string client = scratch.Sub("client");
    MakeDirs(client);
    CopyProgramInto("filedist", client);
    std::string output;
    EXPECT_EQ(Update(client, {source}, &output), 1) << bad;
    EXPECT_NE(output.find("'" + bad + "'"), std::string::npos) << output;
    EXPECT_NE(output.find("nothing was installed"), std::string::npos) << output;
    EXPECT_EQ(ClientFiles(client), Tree()) << bad;
    EXPECT_FALSE(FileExists(client + testing_support::Sep() + "VerComp.dat")) << bad;
    EXPECT_FALSE(FileExists(scratch.Sub("escaped.txt"))) << bad;
  }
}

TEST_F(ClientUpdateTest, DamagedFilesAreNotRecorded) {
  std::string client = NewClient("client");
  std::string patch = Release(kVersion1, "v1");
  std::string output;
  ASSERT_EQ(Update(client, {patch}, &output), 0) << output;
  std::string patch2 = Release(kVersion2, "v2");
  std::string sep(1, testing_support::Sep());

  // A download cut short leaves the installed file as it was.
  std::string fetched_a = patch2 + sep + "data" + sep + "a.txt";
  std::string whole = ReadFileBytes(fetched_a);
  WriteFileBytes(fetched_a, whole.substr(0, whole.size() - 5));
  // A whole gzip file with other contents fails the key check.
  std::string fetched_n = patch2 + sep + "new folder" + sep + "sub" + sep + "n.bin";
  std::string genuine_n = ReadFileBytes(fetched_n);
  WriteFileBytes(fetched_n, ReadFileBytes(patch + sep + "old.txt"));

  EXPECT_EQ(Update(client, {patch2}, &output), 1) << output;
  EXPECT_NE(output.find("2 files failed"), std::string::npos) << output;
  EXPECT_EQ(ReadFileBytes(client + sep + "data" + sep + "a.txt"), kVersion1.at("data/a.txt"));
  std::map<std::string, std::string> installed = ListKeys(client + sep + "VerComp.dat");
  std::map<std::string, std::string> keys2 = PackerKeys();
  EXPECT_NE(installed[".\\data\\a.txt"], keys2[".\\data\\a.txt"]);
  EXPECT_EQ(installed.count(".\\new folder\\sub\\n.bin"), 0u);

  // Once the release is whole again, the next run finishes the job.
  WriteFileBytes(fetched_a, whole);
  WriteFileBytes(fetched_n, genuine_n);
  ASSERT_EQ(Update(client, {patch2, "--prune"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client), kVersion2);
}

TEST_F(ClientUpdateTest, UsageAndMissingSource) {
  std::string client = NewClient("client");
  std::string output;
  EXPECT_EQ(Update(client, {Sub("no-such-folder")}, &output), 1);
  EXPECT_NE(output.find("does not exist"), std::string::npos) << output;
  EXPECT_EQ(Update(client, {}, &output), 2);
  EXPECT_EQ(Update(client, {"a", "b"}, &output), 2);
  EXPECT_EQ(Update(client, {"a", "--force"}, &output), 2);
  EXPECT_EQ(Update(client, {"--help"}, &output), 0);
  EXPECT_NE(output.find("usage: filedist update"), std::string::npos);
  // A folder that is no release.
  MakeDirs(Sub("empty"));
  EXPECT_EQ(Update(client, {Sub("empty")}, &output), 1);
  EXPECT_NE(output.find("no release found at"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), Tree());
}

}  // namespace

// `filedist update` as a user runs it: releases made with `filedist build`
// in a packer directory, and a client directory that holds its own copy of
// filedist, which it brings up to date from a folder or a web server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;
using Tree = std::map<std::string, std::string>;  // relative path with '/' -> bytes
using Strings = std::vector<std::string>;

const Tree kVersion1 = {
    {"bin/app.exe", "program, version 1"},
    {"data/a.txt", "data a, version 1"},
    {"old.txt", "a file that version 2 drops"},
    {"readme.txt", std::string(100000, 'r')},
};

const Tree kVersion2 = {
    {"bin/app.exe", "program, version 1"},
    {"data/a.txt", "data a, version 2, longer than before"},
    {"new folder/sub/n.bin", std::string("\x1f\x8b binary that looks like gzip \0\1\2", 34)},
    {"readme.txt", std::string(100000, 'r')},
};

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

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

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
    args.insert(args.begin(), {client + testing_support::Sep() + "filedist" +
                                   plat::kExecutableSuffix,
                               "update"});
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

// A python web server on the loopback address, serving one directory.
class LoopbackServer {
 public:
  explicit LoopbackServer(const std::string& root, const std::string& work) : work_(work) {
    std::string log = work + "/server.log";
    // Bounded in time, so that a test that dies cannot leave it running.
    std::string command = "timeout 300 python3 -u -m http.server 0 --bind 127.0.0.1 --directory '" +
                          root + "' > '" + log + "' 2>&1 & echo $! > '" + work + "/server.pid'";
    if (std::system(command.c_str()) != 0) return;
    pid_ = ReadFileBytes(work + "/server.pid");
    while (!pid_.empty() && (pid_.back() == '\n' || pid_.back() == '\r')) pid_.pop_back();
    // The server names its port once it listens.
    for (int wait = 0; wait < 100 && port_.empty(); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      std::string text = FileExists(log) ? ReadFileBytes(log) : "";
      size_t at = text.find(" port ");
      if (at == std::string::npos) continue;
      size_t end = text.find_first_not_of("0123456789", at + 6);
      if (end != std::string::npos && end > at + 6) port_ = text.substr(at + 6, end - at - 6);
    }
  }
  ~LoopbackServer() {
    if (!pid_.empty()) std::system(("kill " + pid_ + " 2>/dev/null").c_str());
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::string url() const { return "http://127.0.0.1:" + port_; }
  bool ok() const { return !port_.empty(); }

 private:
  std::string work_;
  std::string pid_;
  std::string port_;
};

TEST_F(ClientUpdateTest, OverHttp) {
  if (IsWindowsProgram()) GTEST_SKIP() << "the Windows filedist takes folders and UNC paths only";
  if (std::system("python3 -c '' > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "python3 is not installed; it serves the release over HTTP";
  }
  std::string client = NewClient("client");
  std::string output;
  LoopbackServer server(scratch_.path(), Sub("packer"));
  ASSERT_TRUE(server.ok()) << "the web server did not start";
  std::string root = scratch_.path();
  auto url = [&](const std::string& patch) {
    return server.url() + "/" + fs::relative(patch, root).generic_string();
  };
  std::string probe = Release(kVersion1, "probe");
  if (Update(NewClient("probe-client"), {url(probe), "--dry-run"}, &output) != 0 &&
      output.find("without HTTP support") != std::string::npos) {
    GTEST_SKIP() << "filedist was built without libcurl";
  }
  RunScenario(client, url);

  // A release that is not there is an error, not an empty release.
  EXPECT_EQ(Update(client, {server.url() + "/no-such-release"}, &output), 1);
  EXPECT_NE(output.find("cannot fetch the version list"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), kVersion2);
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
  bool http = !IsWindowsProgram() && std::system("python3 -c '' > /dev/null 2>&1") == 0;
  std::unique_ptr<LoopbackServer> server;
  if (http) server = std::make_unique<LoopbackServer>(scratch_.path(), Sub("packer"));
  std::string folder_client = NewClient("folder-client");
  std::string web_client = NewClient("web-client");
  std::string output;

  std::string patch1 = build(kVersion1, "v1");
  ASSERT_EQ(Update(folder_client, {releases}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client), kVersion1);
  if (http && server->ok()) {
    if (Update(web_client, {server->url() + "/releases/"}, &output) != 0 &&
        output.find("without HTTP support") != std::string::npos) {
      http = false;
    } else {
      EXPECT_EQ(ClientFiles(web_client), kVersion1) << output;
    }
  }

  std::string patch2 = build(kVersion2, "v2");
  EXPECT_NE(patch1, patch2);
  ASSERT_EQ(Update(folder_client, {releases, "--prune"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client), kVersion2);
  if (http && server->ok()) {
    ASSERT_EQ(Update(web_client, {server->url() + "/releases", "--prune"}, &output), 0) << output;
    EXPECT_EQ(ClientFiles(web_client), kVersion2);
  }
  // A patch directory given directly is taken as it is.
  ASSERT_EQ(Update(folder_client, {patch1}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(folder_client).at("data/a.txt"), kVersion1.at("data/a.txt"));

  // A LATEST that names no patch directory is refused, not followed.
  WriteFileBytes(releases + testing_support::Sep() + "LATEST", "../../etc\n");
  EXPECT_EQ(Update(folder_client, {releases}, &output), 1);
  EXPECT_NE(output.find("does not name a patch directory"), std::string::npos) << output;
}

TEST_F(ClientUpdateTest, DryRunChangesNothing) {
  std::string client = NewClient("client");
  std::string patch = Release(kVersion1, "v1");
  std::string output;
  ASSERT_EQ(Update(client, {patch, "--dry-run"}, &output), 0) << output;
  EXPECT_NE(output.find("would fetch 4 files"), std::string::npos) << output;
  EXPECT_NE(output.find("new     .\\data\\a.txt"), std::string::npos) << output;
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
    char key[33];
    GetFileKey((source + "/VerComp.dat").c_str(), key);
    WriteFileBytes(source + "/Ver", std::string(key) + "\r\n");
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
  EXPECT_NE(output.find("cannot fetch the version list"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), Tree());
}

}  // namespace

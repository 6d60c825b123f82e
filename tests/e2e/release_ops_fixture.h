// A publisher and its clients over time, as the release operations tests
// need them: a packer directory with its own filedist and signing keys,
// releases built from trees into release folders, client folders each with
// their own filedist, and nginx serving the scratch directory.
#ifndef FILEDIST_TESTS_E2E_RELEASE_OPS_FIXTURE_H
#define FILEDIST_TESTS_E2E_RELEASE_OPS_FIXTURE_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_server.h"
#include "support/test_support.h"

namespace release_ops {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::string>;  // relative path with '/' -> bytes
using Strings = std::vector<std::string>;

class ReleaseOps : public ::testing::Test {
 protected:
  ReleaseOps() {
    testing_support::MakeDirs(Sub("packer"));
    packer_ = testing_support::CopyProgramInto("filedist", Sub("packer"));
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  // Runs the packer's filedist with args; the exit status.
  int Packer(Strings args, std::string* output) {
    args.insert(args.begin(), packer_);
    return testing_support::Run(args, output);
  }

  void Keygen(const std::string& name) {
    std::string output;
    ASSERT_EQ(Packer({"keygen", Sub(name)}, &output), 0) << output;
  }

  // Builds tree into the release folder releases (below the scratch
  // directory) with the extra options; the patch directory's name.
  std::string Build(const Tree& tree, const std::string& releases, Strings extra = {}) {
    std::string source = Sub("source");
    fs::remove_all(source);
    for (const auto& [relative, bytes] : tree) {
      fs::path path = fs::path(source) / fs::path(relative);
      fs::create_directories(path.parent_path());
      testing_support::WriteFileBytes(path.string(), bytes);
    }
    Strings args = {"build", source, "--releases", Sub(releases), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string output;
    EXPECT_EQ(Packer(args, &output), 0) << output;
    Strings lines = testing_support::SplitLines(output);
    return lines.empty() ? std::string() : fs::path(lines.back()).filename().string();
  }

  // A client folder with its own filedist and, with trusted, the key
  // name.pub as filedist.pub.
  std::string NewClient(const std::string& name, const std::string& trusted = "") {
    testing_support::MakeDirs(Sub(name));
    testing_support::CopyProgramInto("filedist", Sub(name));
    if (!trusted.empty()) fs::copy_file(Sub(trusted + ".pub"), Sub(name + "/filedist.pub"));
    return Sub(name);
  }

  // Runs the client's own filedist with args; the exit status.
  int Client(const std::string& client, Strings args, std::string* output) {
    args.insert(args.begin(),
                client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix);
    return testing_support::Run(args, output);
  }

  // The files of tree as the client holds them.
  Tree ClientFiles(const std::string& client, const Tree& tree) {
    Tree found;
    for (const auto& [relative, unused] : tree) {
      fs::path path = fs::path(client) / fs::path(relative);
      if (fs::exists(path)) found[relative] = testing_support::ReadFileBytes(path.string());
    }
    return found;
  }

  // The value after "name: " on a line of output, or "" when none.
  static std::string Field(const std::string& output, const std::string& name) {
    for (const std::string& line : testing_support::SplitLines(output)) {
      if (line.compare(0, name.size() + 2, name + ": ") == 0) return line.substr(name.size() + 2);
    }
    return "";
  }

  // nginx serving the scratch directory; false when it cannot start here.
  bool StartServer() {
    if (!testing_support::CanStartTestServers("nginx")) return false;
    std::string work = Sub("server");
    testing_support::MakeDirs(work);
    server_ = std::make_unique<testing_support::TestServer>("nginx", scratch_.path(), work);
    EXPECT_TRUE(server_->ok()) << server_->failure();
    return server_->ok();
  }

  // The URL of a folder below the scratch directory.
  std::string Url(const std::string& relative) const {
    return server_->Url("http") + "/" + relative;
  }

  testing_support::ScratchDir scratch_;
  std::string packer_;
  std::unique_ptr<testing_support::TestServer> server_;
};

inline const Tree kFirst = {
    {"bin/app.exe", "program, first"},
    {"data/a.txt", "data a, first"},
    {"readme.txt", "read me"},
};
inline const Tree kSecond = {
    {"bin/app.exe", "program, second, a little longer"},
    {"data/a.txt", "data a, first"},
    {"readme.txt", "read me"},
};
inline const Tree kThird = {
    {"bin/app.exe", "program, third"},
    {"data/a.txt", "data a, third"},
    {"readme.txt", "read me"},
};

}  // namespace release_ops

#endif  // FILEDIST_TESTS_E2E_RELEASE_OPS_FIXTURE_H

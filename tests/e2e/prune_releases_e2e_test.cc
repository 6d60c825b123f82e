// `filedist prune-releases`: old patch directories go, but never one a
// channel or LATEST names or the delta window still reads, never while
// another build holds the release folder, and never on a guess when a
// channel pointer cannot be read.
#include <string>
#include <system_error>

#include "e2e/release_ops_fixture.h"
#include "platform/file_lock.h"

namespace {

using namespace release_ops;

Tree Numbered(int n) {
  Tree tree = kFirst;
  tree["data/a.txt"] = "data a, release " + std::to_string(n);
  return tree;
}

TEST_F(ReleaseOps, PruneKeepsWhatChannelsAndTheDeltaWindowNeed) {
  std::vector<std::string> patches;
  for (int n = 1; n <= 6; ++n) {
    Strings extra;
    if (n == 2) extra = {"--channel", "beta"};
    patches.push_back(Build(Numbered(n), "releases", extra));
  }
  std::string client = NewClient("client");
  std::string output;
  ASSERT_EQ(Client(client, {"update", Sub("releases"), "--channel", "beta", "--quiet"}, &output), 0)
      << output;

  // Under another holder of Release.lock, or with a damaged pointer: nothing
  // is removed.
  {
    plat::FileLock lock;
    ASSERT_EQ(lock.Acquire(Sub("releases/Release.lock")), plat::LockResult::kAcquired);
    EXPECT_EQ(Packer({"prune-releases", Sub("releases"), "--keep", "1"}, &output), 1) << output;
    EXPECT_NE(output.find("another build"), std::string::npos) << output;
  }
  const std::string beta = testing_support::ReadFileBytes(Sub("releases/channel.beta"));
  testing_support::WriteFileBytes(Sub("releases/channel.beta"), "not a pointer\n");
  EXPECT_EQ(Packer({"prune-releases", Sub("releases"), "--keep", "1"}, &output), 1) << output;
  testing_support::WriteFileBytes(Sub("releases/channel.beta"), beta);
  for (const std::string& patch : patches) {
    EXPECT_TRUE(fs::is_directory(Sub("releases/" + patch))) << patch;
  }

  // --dry-run lists and keeps; the real run removes exactly the same.
  ASSERT_EQ(Packer({"prune-releases", Sub("releases"), "--keep", "1", "--dry-run"}, &output), 0)
      << output;
  EXPECT_NE(output.find("would remove " + patches[0]), std::string::npos) << output;
  EXPECT_NE(output.find("would remove " + patches[2]), std::string::npos) << output;
  EXPECT_NE(output.find("kept " + patches[1] + " (channel beta)"), std::string::npos) << output;
  for (const std::string& patch : patches) {
    EXPECT_TRUE(fs::is_directory(Sub("releases/" + patch))) << patch;
  }
  // A link under a patch directory's name, the oldest by its name: it goes
  // as a link, and the folder it leads to keeps its files.
  testing_support::MakeDirs(Sub("outside"));
  testing_support::WriteFileBytes(Sub("outside/precious.txt"), "precious");
  const std::string planted = "Patch_20000101_000000";
  std::error_code link_error;
  fs::create_directory_symlink(Sub("outside"), Sub("releases/" + planted), link_error);
  ASSERT_EQ(Packer({"prune-releases", Sub("releases"), "--keep", "1"}, &output), 0) << output;
  if (!link_error) {
    EXPECT_FALSE(fs::is_symlink(Sub("releases/" + planted))) << output;
    EXPECT_EQ(testing_support::ReadFileBytes(Sub("outside/precious.txt")), "precious") << output;
  }
  struct Expect {
    size_t index;
    bool kept;
  } expected[] = {{0, false}, {1, true}, {2, false}, {3, true}, {4, true}, {5, true}};
  for (const Expect& e : expected) {
    EXPECT_EQ(fs::is_directory(Sub("releases/" + patches[e.index])), e.kept)
        << "release " << e.index + 1 << ": " << output;
  }

  // Clients of both channels still update.
  EXPECT_EQ(Client(client, {"update", "--check"}, &output), 0) << output;
  std::string stable = NewClient("stable-client");
  ASSERT_EQ(Client(stable, {"update", Sub("releases"), "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(stable, Numbered(6)), Numbered(6));

  // A smaller window lets more go; the pointed releases stay.
  ASSERT_EQ(
      Packer({"prune-releases", Sub("releases"), "--keep", "1", "--delta-window", "1"}, &output), 0)
      << output;
  EXPECT_TRUE(fs::is_directory(Sub("releases/" + patches[1])));
  EXPECT_FALSE(fs::is_directory(Sub("releases/" + patches[3])));
  EXPECT_TRUE(fs::is_directory(Sub("releases/" + patches[5])));
}

}  // namespace

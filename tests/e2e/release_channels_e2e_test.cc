// Channels over HTTP as a publisher runs them: a beta channel beside stable,
// a client switching between them, a promotion, a signed roll-back the
// client takes and an older pointer served again that it refuses, also
// after an update that could not place its files.
#include <fstream>
#include <string>

#include "support/test_server.h"

#include "e2e/release_ops_fixture.h"

namespace {

using namespace release_ops;

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

// Keeps an update from placing dir/app.exe for as long as it lives: on
// Windows by holding the file open, as an application holds a document;
// elsewhere by making the folder unwritable for the owner, or immutable
// (chattr +i) where permissions do not stop this user (root).
class Unplaceable {
 public:
  explicit Unplaceable(const std::string& dir) : dir_(dir) {
    if (IsWindowsProgram()) {
      held_.open(dir + "/app.exe", std::ios::binary);
      ok_ = held_.is_open();
      return;
    }
    fs::permissions(dir, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::string probe = dir + "/probe";
    ok_ = !std::ofstream(probe);
    if (ok_) return;
    fs::remove(probe);
    std::string output;
    ok_ = fs::exists(kChattr) && testing_support::Run({kChattr, "+i", dir}, &output) == 0;
  }
  ~Unplaceable() {
    if (IsWindowsProgram()) return;
    std::string output;
    if (fs::exists(kChattr)) testing_support::Run({kChattr, "-i", dir_}, &output);
    fs::permissions(dir_, fs::perms::owner_write, fs::perm_options::add);
  }
  bool ok() const { return ok_; }

 private:
  static constexpr const char* kChattr = "/usr/bin/chattr";
  std::string dir_;
  std::ifstream held_;
  bool ok_ = false;
};

TEST_F(ReleaseOps, ChannelsPromotionRollBackAndReplayOverHttp) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("signer");
  const Strings sign = {"--sign", Sub("signer.key")};
  const std::string first = Build(kFirst, "releases", sign);
  Strings beta_sign = sign;
  beta_sign.insert(beta_sign.end(), {"--channel", "beta"});
  const std::string second = Build(kSecond, "releases", beta_sign);
  // A beta build leaves LATEST to stable: clients of before stay there.
  EXPECT_EQ(testing_support::ReadFileBytes(Sub("releases/LATEST")), first + "\n");

  std::string client = NewClient("client", "signer");
  std::string output;
  const std::string source = Url("releases/");
  ASSERT_EQ(Client(client, {"update", source, "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kFirst), kFirst);

  // Switching to beta fetches only what differs, and is remembered.
  ASSERT_EQ(Client(client, {"update", "--channel", "beta"}, &output), 0) << output;
  EXPECT_NE(output.find("fetched 1 files"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client, kSecond), kSecond);
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "channel"), "beta") << output;
  EXPECT_EQ(Client(client, {"update", "--check"}, &output), 0) << output;

  // A channel the folder does not have is named, not taken for stable.
  EXPECT_EQ(Client(client, {"update", "--channel", "nightly", "--check"}, &output), 1) << output;
  EXPECT_NE(output.find("no channel 'nightly'"), std::string::npos) << output;

  // Promotion: stable now offers the beta release; back on stable.
  ASSERT_EQ(Packer({"promote", Sub("releases"), second, "--channel", "stable", "--sign",
                    Sub("signer.key")},
                   &output),
            0)
      << output;
  EXPECT_EQ(testing_support::ReadFileBytes(Sub("releases/LATEST")), second + "\n");
  const std::string promoted_pointer =
      testing_support::ReadFileBytes(Sub("releases/channel.stable"));
  const std::string promoted_signature =
      testing_support::ReadFileBytes(Sub("releases/channel.stable.sig"));
  ASSERT_EQ(Client(client, {"update", "--channel", "stable", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kSecond), kSecond);

  // A third release, then a deliberate signed roll-back to the first: taken
  // without --allow-downgrade.
  const std::string third = Build(kThird, "releases", sign);
  ASSERT_EQ(Client(client, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kThird), kThird);
  const std::string third_pointer = testing_support::ReadFileBytes(Sub("releases/channel.stable"));
  const std::string third_signature =
      testing_support::ReadFileBytes(Sub("releases/channel.stable.sig"));
  ASSERT_EQ(Packer({"promote", Sub("releases"), Sub("releases/" + first), "--channel", "stable",
                    "--sign", Sub("signer.key")},
                   &output),
            0)
      << output;
  ASSERT_EQ(Client(client, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kFirst), kFirst);
  ASSERT_EQ(Client(client, {"status"}, &output), 0) << output;
  EXPECT_EQ(Field(output, "release"), first + " (sequence 1, signature verified)") << output;

  // A switch of channel is no roll-back: the first pointer taken from a
  // channel could be any the key ever signed, so going back to an older
  // release that way needs --allow-downgrade.
  std::string switcher = NewClient("switcher", "signer");
  ASSERT_EQ(Client(switcher, {"update", source, "--channel", "beta", "--quiet"}, &output), 0)
      << output;
  EXPECT_EQ(ClientFiles(switcher, kSecond), kSecond);
  EXPECT_EQ(Client(switcher, {"update", "--channel", "stable"}, &output), 1) << output;
  EXPECT_NE(output.find("older than the installed release"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(switcher, kSecond), kSecond);
  ASSERT_EQ(
      Client(switcher, {"update", "--channel", "stable", "--allow-downgrade", "--quiet"}, &output),
      0)
      << output;
  EXPECT_EQ(ClientFiles(switcher, kFirst), kFirst);

  // Anyone serving an older pointer (with its good signature) again, to take
  // the client forward to the withdrawn release or back: refused, nothing
  // changes.
  struct Replay {
    const char* name;
    std::string pointer;
    std::string signature;
  } replays[] = {
      {"the withdrawn third release's pointer", third_pointer, third_signature},
      {"the promotion's pointer", promoted_pointer, promoted_signature},
  };
  for (const Replay& replay : replays) {
    testing_support::WriteFileBytes(Sub("releases/channel.stable"), replay.pointer);
    testing_support::WriteFileBytes(Sub("releases/channel.stable.sig"), replay.signature);
    EXPECT_EQ(Client(client, {"update"}, &output), 1) << replay.name << ": " << output;
    EXPECT_NE(output.find("an old pointer served again is refused"), std::string::npos)
        << replay.name << ": " << output;
    EXPECT_EQ(ClientFiles(client, kFirst), kFirst) << replay.name;
  }

  // A pointer that the trusted key did not sign, or no signed pointer at
  // all where there was one, is refused as well.
  Keygen("stranger");
  ASSERT_EQ(Packer({"promote", Sub("releases"), third, "--channel", "stable", "--sign",
                    Sub("stranger.key")},
                   &output),
            0)
      << output;
  EXPECT_EQ(Client(client, {"update"}, &output), 1) << output;
  EXPECT_NE(output.find("not signed by the trusted key"), std::string::npos) << output;
  fs::remove(Sub("releases/channel.stable"));
  fs::remove(Sub("releases/channel.stable.sig"));
  EXPECT_EQ(Client(client, {"update"}, &output), 1) << output;
  EXPECT_NE(output.find("no longer has the signed pointer"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client, kFirst), kFirst);
}

// A pointer read just before a promotion and its signature read just after
// (the server hands out the pointer as it was for the first read): the
// client reads the pair again and takes the new one instead of calling it
// forged.
TEST_F(ReleaseOps, APairReadAcrossAPromotionIsReadAgain) {
  if (!testing_support::CanStartTestServers("faults")) {
    GTEST_SKIP() << "python3 cannot be started here";
  }
  Keygen("signer");
  const Strings sign = {"--sign", Sub("signer.key")};
  Build(kFirst, "releases", sign);
  const std::string before = testing_support::ReadFileBytes(Sub("releases/channel.stable"));
  Build(kSecond, "releases", sign);
  testing_support::WriteFileBytes(Sub("releases/channel.stable.before"), before);
  testing_support::MakeDirs(Sub("faults"));
  testing_support::TestServer faults("faults", scratch_.path(), Sub("faults"));
  ASSERT_TRUE(faults.ok()) << faults.failure();

  std::string client = NewClient("client", "signer");
  std::string output;
  EXPECT_EQ(
      Client(client, {"update", faults.Url("http") + "/promoting-1/releases/", "--quiet"}, &output),
      0)
      << output;
  EXPECT_EQ(ClientFiles(client, kSecond), kSecond);
  EXPECT_NE(faults.FaultLog().find("promoting-1 releases/channel.stable -"), std::string::npos)
      << faults.FaultLog();
}

// The release floor is raised before an apply changes anything; the pointer
// taken must be too. An update whose file cannot be placed leaves release 2
// half installed, and the previous pointer (to release 1, validly signed)
// served again must be refused, not take the install back and lower the
// floor.
TEST_F(ReleaseOps, AnUpdateThatFailsToPlaceIsNotRolledBackByItsOldPointer) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("signer");
  const Strings sign = {"--sign", Sub("signer.key")};
  Build(kFirst, "releases", sign);
  const std::string first_pointer = testing_support::ReadFileBytes(Sub("releases/channel.stable"));
  const std::string first_signature =
      testing_support::ReadFileBytes(Sub("releases/channel.stable.sig"));
  std::string client = NewClient("client", "signer");
  std::string output;
  ASSERT_EQ(Client(client, {"update", Url("releases/"), "--quiet"}, &output), 0) << output;
  Build(kSecond, "releases", sign);
  const std::string second_pointer = testing_support::ReadFileBytes(Sub("releases/channel.stable"));
  const std::string second_signature =
      testing_support::ReadFileBytes(Sub("releases/channel.stable.sig"));

  {
    Unplaceable blocked(client + "/bin");
    if (!blocked.ok()) GTEST_SKIP() << "no way to keep this user from replacing a file here";
    ASSERT_EQ(Client(client, {"update"}, &output), 1) << output;
    EXPECT_NE(output.find("app.exe"), std::string::npos) << output;
  }
  EXPECT_EQ(testing_support::ReadFileBytes(client + "/.filedist-release"), "sequence 2\n");

  testing_support::WriteFileBytes(Sub("releases/channel.stable"), first_pointer);
  testing_support::WriteFileBytes(Sub("releases/channel.stable.sig"), first_signature);
  EXPECT_EQ(Client(client, {"update"}, &output), 1) << output;
  EXPECT_NE(output.find("an old pointer served again is refused"), std::string::npos) << output;
  EXPECT_EQ(testing_support::ReadFileBytes(client + "/.filedist-release"), "sequence 2\n");
  EXPECT_EQ(ClientFiles(client, kFirst), kFirst);

  // The current pointer served again finishes the update.
  testing_support::WriteFileBytes(Sub("releases/channel.stable"), second_pointer);
  testing_support::WriteFileBytes(Sub("releases/channel.stable.sig"), second_signature);
  ASSERT_EQ(Client(client, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client, kSecond), kSecond);
}

}  // namespace

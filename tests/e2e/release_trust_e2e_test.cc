// Freeze protection and key rotation over HTTP: a signed pointer that has
// expired is refused with its date, and a client that trusts two keys (one
// line each in filedist.pub) takes releases signed by either, while one
// that trusts the old key alone refuses the new key's. A mistyped address
// is told as one, not as a signing problem.
#include <string>

#include "e2e/release_ops_fixture.h"
#include "protocol/channel_pointer.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"

namespace {

using namespace release_ops;

TEST_F(ReleaseOps, ExpiredPointerRefusedAndKeysRotated) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("old");
  Keygen("new");
  const std::string first =
      Build(kFirst, "releases", {"--sign", Sub("old.key"), "--expires", "30"});
  std::string both = NewClient("both");
  testing_support::WriteFileBytes(both + "/filedist.pub",
                                  testing_support::ReadFileBytes(Sub("old.pub")) +
                                      testing_support::ReadFileBytes(Sub("new.pub")));
  std::string old_only = NewClient("old-only", "old");
  std::string output;
  for (const std::string& client : {both, old_only}) {
    ASSERT_EQ(Client(client, {"update", Url("releases/"), "--quiet"}, &output), 0) << output;
    EXPECT_EQ(ClientFiles(client, kFirst), kFirst);
  }
  ChannelPointer pointer;
  std::string error;
  ASSERT_TRUE(ParseChannelPointer(testing_support::ReadFileBytes(Sub("releases/channel.stable")),
                                  &pointer, &error))
      << error;
  EXPECT_FALSE(pointer.expires.empty());

  // The publisher moves to the new key.
  const std::string second = Build(kSecond, "releases", {"--sign", Sub("new.key")});
  ASSERT_EQ(Client(both, {"update", "--quiet"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(both, kSecond), kSecond);
  EXPECT_EQ(Client(old_only, {"update"}, &output), 1) << output;
  EXPECT_EQ(ClientFiles(old_only, kFirst), kFirst);

  // A pointer signed long ago with an expiry, served on after it passed.
  ASSERT_TRUE(ParseChannelPointer(testing_support::ReadFileBytes(Sub("releases/channel.stable")),
                                  &pointer, &error))
      << error;
  pointer.sequence += 1;
  pointer.expires = "2020-01-01T00:00:00Z";
  const std::string text = FormatChannelPointer(pointer);
  Ed25519PrivateKey key;
  ASSERT_TRUE(ReadPrivateKeyFile(Sub("new.key").c_str(), &key));
  Ed25519Signature signature;
  ASSERT_TRUE(SignEd25519(key, text, &signature));
  testing_support::WriteFileBytes(Sub("releases/channel.stable"), text);
  testing_support::WriteFileBytes(Sub("releases/channel.stable.sig"),
                                  FormatSignatureFile(signature));
  EXPECT_EQ(Client(both, {"update"}, &output), 1) << output;
  EXPECT_NE(output.find("expired on 2020-01-01T00:00:00Z"), std::string::npos) << output;
  EXPECT_EQ(Client(both, {"update", "--check"}, &output), 1) << output;
  EXPECT_EQ(ClientFiles(both, kSecond), kSecond);
}

// Where nothing at all answers (no pointer, LATEST, VerComp.dat or Manifest:
// a mistyped address), a trusting client says that no release is there, for
// a first install and for one that took a signed pointer before; nothing is
// installed either way.
TEST_F(ReleaseOps, AMistypedAddressIsNoReleaseNotASigningProblem) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("key");
  Build(kFirst, "releases", {"--sign", Sub("key.key")});
  std::string installed = NewClient("installed", "key");
  std::string output;
  ASSERT_EQ(Client(installed, {"update", Url("releases/"), "--quiet"}, &output), 0) << output;
  std::string fresh = NewClient("fresh", "key");
  for (const std::string& client : {installed, fresh}) {
    EXPECT_EQ(Client(client, {"update", Url("relaeses/")}, &output), 1) << output;
    EXPECT_NE(output.find("no release found at '" + Url("relaeses")), std::string::npos) << output;
    EXPECT_EQ(output.find("not signed"), std::string::npos) << output;
    EXPECT_EQ(output.find("no longer has the signed pointer"), std::string::npos) << output;
  }
  EXPECT_EQ(ClientFiles(installed, kFirst), kFirst);
  EXPECT_EQ(ClientFiles(fresh, kFirst), Tree());
}

}  // namespace

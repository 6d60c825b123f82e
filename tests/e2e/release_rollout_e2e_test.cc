// A staged rollout over HTTP as installs meet it: a signed release offered
// to 10% of installs, raised to 50%, halted and completed. Identifiers are
// picked by the engine's own bucket (update/rollout.h), so that the test
// follows the rule wherever it is defined.
#include <random>
#include <string>

#include "e2e/release_ops_fixture.h"
#include "signing/hex_text.h"
#include "update/rollout.h"

namespace {

using namespace release_ops;

// An identifier whose bucket for patch lies in [low, high).
std::string IdIn(const std::string& patch, uint32_t low, uint32_t high, std::mt19937_64* random) {
  for (;;) {
    unsigned char bytes[16];
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>((*random)());
    std::string id = HexText(bytes, sizeof bytes);
    uint32_t bucket = update::RolloutBucket(id, patch);
    if (bucket >= low && bucket < high) return id;
  }
}

TEST_F(ReleaseOps, RolloutRaisedHaltedAndCompletedOverHttp) {
  if (!StartServer()) GTEST_SKIP() << "nginx or python3 cannot be started here";
  Keygen("signer");
  const Strings sign = {"--sign", Sub("signer.key")};
  const std::string first = Build(kFirst, "releases", sign);
  Strings partial = sign;
  partial.insert(partial.end(), {"--rollout", "10"});
  const std::string second = Build(kSecond, "releases", partial);
  // Clients that follow LATEST cannot take part: it moves at 100%.
  EXPECT_EQ(testing_support::ReadFileBytes(Sub("releases/LATEST")), first + "\n");

  std::mt19937_64 random(7);
  struct Install {
    const char* name;
    std::string id;
    std::string client;
  } installs[] = {
      {"inside 10%", IdIn(second, 0, 1000, &random), ""},
      {"inside 50%", IdIn(second, 1000, 5000, &random), ""},
      {"outside 50%", IdIn(second, 5000, 10000, &random), ""},
  };
  std::string output;
  for (Install& install : installs) {
    install.client = NewClient(install.name == std::string("inside 10%")   ? "a"
                               : install.name == std::string("inside 50%") ? "b"
                                                                           : "c",
                               "signer");
    testing_support::WriteFileBytes(install.client + "/.filedist-id", install.id + "\n");
    ASSERT_EQ(Client(install.client, {"update", Url("releases/"), "--quiet", "--channel", "stable"},
                     &output),
              0)
        << install.name << ": " << output;
  }
  // Each run: the tree every install must hold afterwards.
  auto expect = [&](const char* step, const Tree& a, const Tree& b, const Tree& c) {
    const Tree* trees[] = {&a, &b, &c};
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(Client(installs[i].client, {"update"}, &output), 0) << step << output;
      EXPECT_EQ(ClientFiles(installs[i].client, *trees[i]), *trees[i])
          << step << ", " << installs[i].name << ": " << output;
    }
  };
  expect("at 10%", kSecond, kFirst, kFirst);
  EXPECT_EQ(Client(installs[1].client, {"update", "--check"}, &output), 0) << output;
  EXPECT_NE(output.find("not yet to this one"), std::string::npos) << output;

  ASSERT_EQ(Packer({"promote", Sub("releases"), second, "--channel", "stable", "--rollout", "50",
                    "--sign", Sub("signer.key")},
                   &output),
            0)
      << output;
  expect("at 50%", kSecond, kSecond, kFirst);
  ASSERT_EQ(Packer({"promote", Sub("releases"), second, "--channel", "stable", "--rollout", "0",
                    "--sign", Sub("signer.key")},
                   &output),
            0)
      << output;
  expect("halted", kSecond, kSecond, kFirst);
  ASSERT_EQ(Packer({"promote", Sub("releases"), second, "--channel", "stable", "--sign",
                    Sub("signer.key")},
                   &output),
            0)
      << output;
  expect("at 100%", kSecond, kSecond, kSecond);
  EXPECT_EQ(testing_support::ReadFileBytes(Sub("releases/LATEST")), second + "\n");
}

}  // namespace

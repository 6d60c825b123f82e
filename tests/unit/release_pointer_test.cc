// The release protocol that filedist build and the client share: the
// release pointer LATEST, the channel pointers with their signatures, and
// the signature of a release's Manifest.
#include "release/release_publish.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/durability_observer.h"
#include "release/channel_publish.h"
#include "release/prune_releases.h"
#include "protocol/channel_pointer.h"
#include "signing/channel_signature.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "protocol/release_manifest.h"
#include "signing/release_signature.h"
#include "support/power_cut_layer.h"
#include "support/test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::NamesIn;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

TEST(ReleasePointer, NamesTheNewestPatchDirectoryAndReplacesTheOldPointer) {
  ScratchDir scratch;
  std::string error;
  ASSERT_TRUE(WriteReleasePointer(scratch.Sub("Patch_20261207_101112"), &error)) << error;
  EXPECT_EQ(ReadFileBytes(scratch.Sub("LATEST")), "Patch_20261207_101112\n");
  ASSERT_TRUE(WriteReleasePointer(scratch.Sub("Patch_20261208_000001"), &error)) << error;
  EXPECT_EQ(ReadFileBytes(scratch.Sub("LATEST")), "Patch_20261208_000001\n");
  // Nothing of the writing is left beside it.
  EXPECT_EQ(NamesIn(scratch.path()), std::vector<std::string>{"LATEST"});
}

TEST(ReleasePointer, AFolderThatCannotBeWrittenLeavesNoPointerAndSaysWhy) {
  ScratchDir scratch;
  std::string error;
  EXPECT_FALSE(WriteReleasePointer(scratch.Sub("missing/Patch_20261207_101112"), &error));
  EXPECT_NE(error.find("LATEST"), std::string::npos) << error;
  EXPECT_TRUE(NamesIn(scratch.path()).empty());
}

TEST(ReleasePointer, ReadsOnlyThePatchDirectoryNames) {
  struct Case {
    const char* text;
    const char* name;  // null: refused
  };
  const Case cases[] = {
      {"Patch_20261207_101112\n", "Patch_20261207_101112"},
      {"Patch_20261207_101112\r\n", "Patch_20261207_101112"},
      {"Patch_20261207_101112", "Patch_20261207_101112"},
      {"Patch_20261207_101112 \n\n", "Patch_20261207_101112"},
      {"../../etc\n", nullptr},  // out of the release folder
      {"Patch_20261207_101112/../x\n", nullptr},
      {" Patch_20261207_101112\n", nullptr},  // only the line's end is trimmed
      {"Patch_2026120_1011123\n", nullptr},
      {"Patch_20261207_101112\nPatch_20261208_000001\n", nullptr},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    std::string name = "unchanged";
    bool taken = ParseReleasePointer(c.text, &name);
    if (c.name == nullptr) {
      EXPECT_FALSE(taken) << c.text;
      EXPECT_EQ(name, "unchanged") << c.text;
    } else {
      EXPECT_TRUE(taken) << c.text;
      EXPECT_EQ(name, c.name) << c.text;
    }
  }
}

// A release folder with two signed releases and a publisher's key.
class ChannelPublishing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(GenerateEd25519KeyPair(&public_key_, &private_key_));
    WriteFileBytes(scratch_.Sub("filedist.pub"), FormatPublicKeyFile(public_key_));
    testing_support::MakeDirs(scratch_.Sub("releases"));
    for (int n = 1; n <= 2; ++n) {
      const std::string patch = Release(n);
      testing_support::MakeDirs(scratch_.Sub("releases/" + patch));
      WriteFileBytes(scratch_.Sub("releases/" + patch + "/" + kManifestName),
                     "filedist-manifest 1\nsequence " + std::to_string(n) + "\n");
      WriteFileBytes(scratch_.Sub("releases/" + patch + "/" + kManifestSignatureName), "signed");
    }
  }

  static std::string Release(int n) { return "Patch_2026120" + std::to_string(n) + "_101112"; }

  // Points the stable channel at release n, signed.
  bool Publish(int n, std::string* error) {
    ChannelPointer published;
    PointerSigner signer = [this](const std::string& text, std::string* file) {
      Ed25519Signature signature;
      if (!SignEd25519(private_key_, text, &signature)) return false;
      *file = FormatSignatureFile(signature);
      return true;
    };
    return PublishChannel(Releases(), kDefaultChannel, Release(n), 100, -1, signer, &published,
                          error);
  }

  std::string Releases() const { return scratch_.Sub("releases"); }

  // The release the stable channel offers, as a client that trusts the key
  // finds it: its pointer, signed, and LATEST in agreement; 0 when a client
  // would refuse the pair.
  int Offered() {
    const std::string text = ReadFileBytes(scratch_.Sub("releases/channel.stable"));
    const std::string signature = ReadFileBytes(scratch_.Sub("releases/channel.stable.sig"));
    ChannelPointer pointer;
    std::string why;
    if (!ParseChannelPointer(text, &pointer, &why) ||
        !VerifyChannelSignature(text, signature, scratch_.Sub("filedist.pub"), &why)) {
      ADD_FAILURE() << why << "\n" << text;
      return 0;
    }
    EXPECT_EQ(ReadFileBytes(scratch_.Sub("releases/LATEST")), pointer.patch + "\n");
    return static_cast<int>(pointer.release);
  }

  ScratchDir scratch_;
  Ed25519PublicKey public_key_;
  Ed25519PrivateKey private_key_;
};

TEST_F(ChannelPublishing, APointerItsSignatureAndLatestSurviveAPowerCut) {
  std::string error;
  ASSERT_TRUE(Publish(1, &error)) << error;
  PowerCutLayer layer(PowerCutLayer::OfThisBuild(), scratch_.path());
  ASSERT_TRUE(Publish(2, &error)) << error;
  layer.Cut();
  EXPECT_EQ(Offered(), 2);
}

// Stops the publisher after its stop_at-th rename, as a kill would.
class StopAtRename : public plat::DurabilityObserver {
 public:
  struct Stopped {};
  explicit StopAtRename(int stop_at) : left_(stop_at) { plat::SetDurabilityObserver(this); }
  ~StopAtRename() override { plat::SetDurabilityObserver(nullptr); }
  void Created(const std::string&, FILE*) override {}
  void FileSynced(FILE*) override {}
  void PathSynced(const std::string&) override {}
  void Renamed(const std::string&, const std::string&) override {
    if (--left_ == 0) throw Stopped();
  }
  void Removed(const std::string&) override {}
  void DirectorySynced(const std::string&) override {}
  void FileSystemSynced(const std::string&) override {}

 private:
  int left_;
};

TEST_F(ChannelPublishing, AStoppedPublishingIsCompletedByTheNextCommand) {
  std::string error;
  bool stopped = true;
  for (int stop_at = 1; stopped; ++stop_at) {
    ASSERT_LT(stop_at, 20);
    ASSERT_TRUE(Publish(1, &error)) << error;
    ASSERT_EQ(Offered(), 1);
    try {
      StopAtRename stop(stop_at);
      ASSERT_TRUE(Publish(2, &error)) << error;
      stopped = false;
    } catch (const StopAtRename::Stopped&) {
    }
    // The next command in the folder (a pruning that removes nothing)
    // leaves one pair that a client takes: the old release or the new.
    std::vector<PruneEntry> entries;
    std::vector<std::string> failed;
    PruneSettings keep_all;
    keep_all.keep = 10;
    ASSERT_TRUE(PruneReleases(Releases(), keep_all, &entries, &failed, &error)) << error;
    const int offered = Offered();
    EXPECT_TRUE(offered == 1 || offered == 2) << "stopped after rename " << stop_at;
    EXPECT_EQ(NamesIn(Releases()),
              (std::vector<std::string>{"channel.stable", "channel.stable.sig", "LATEST",
                                        Release(1), Release(2), "Release.lock"}))
        << "stopped after rename " << stop_at;
  }
}

TEST(ReleaseSignature, SignsTheManifestOnceAndNeverOverwritesASignature) {
  ScratchDir scratch;
  Ed25519PublicKey public_key;
  Ed25519PrivateKey private_key;
  ASSERT_TRUE(GenerateEd25519KeyPair(&public_key, &private_key));
  const std::string manifest = "filedist-manifest 1\nsequence 1\n";
  WriteFileBytes(scratch.Sub(kManifestName), manifest);
  std::string error;
  ASSERT_TRUE(SignReleaseManifest(scratch.path(), private_key, &error)) << error;

  const std::string signature_path = scratch.Sub(kManifestSignatureName);
  const std::string written = ReadFileBytes(signature_path);
  Ed25519Signature signature;
  ASSERT_TRUE(ParseSignatureFile(written, &signature)) << written;
  EXPECT_TRUE(VerifyEd25519(public_key, manifest, signature));
  EXPECT_FALSE(VerifyEd25519(public_key, manifest + "end 0\n", signature));

  // A second signing finds the file there: it is refused and kept.
  EXPECT_FALSE(SignReleaseManifest(scratch.path(), private_key, &error));
  EXPECT_NE(error.find(kManifestSignatureName), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(signature_path), written);
}

TEST(ReleaseSignature, NoManifestGivesNoSignature) {
  ScratchDir scratch;
  Ed25519PublicKey public_key;
  Ed25519PrivateKey private_key;
  ASSERT_TRUE(GenerateEd25519KeyPair(&public_key, &private_key));
  std::string error;
  EXPECT_FALSE(SignReleaseManifest(scratch.path(), private_key, &error));
  EXPECT_NE(error.find(kManifestName), std::string::npos) << error;
  EXPECT_FALSE(FileExists(scratch.Sub(kManifestSignatureName)));
}

}  // namespace

// The release protocol that filedist build and the client share: the
// release pointer LATEST, and the signature of a release's Manifest.
#include "release/release_pointer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "signing/release_manifest.h"
#include "signing/release_signature.h"
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

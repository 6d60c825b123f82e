// Signed releases as a user makes and takes them: `filedist keygen`,
// `filedist build --sign`, and clients that trust the public key refusing
// every release a server could forge, with nothing replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "signing/ed25519.h"
#include "signing/key_files.h"
#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::FileExists;
using testing_support::GunzipFile;
using testing_support::KeyOfBytes;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::SplitLines;
using testing_support::WriteFileBytes;
using testing_support::ZlibGzip;
using Tree = std::map<std::string, std::string>;
using Strings = std::vector<std::string>;

const Tree kVersion1 = {
    {"bin/tool", "#!/bin/sh\necho tool 1\n"},
    {"data/a.txt", "data a, version 1"},
    {"readme.txt", "read me"},
};
const Tree kVersion2 = {
    {"bin/tool", "#!/bin/sh\necho tool 2\n"},
    {"data/a.txt", "data a, version 2"},
    {"readme.txt", "read me"},
};

bool IsWindowsProgram() { return std::string(plat::kExecutableSuffix) == ".exe"; }

bool OwnerMayRun(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

std::string Native(const std::string& relative) {
  std::string path = relative;
  std::replace(path.begin(), path.end(), '/', testing_support::Sep());
  return path;
}

class SignedRelease : public ::testing::Test {
 protected:
  SignedRelease() {
    MakeDirs(Sub("packer"));
    packer_ = CopyProgramInto("filedist", Sub("packer"));
    std::string output;
    EXPECT_EQ(testing_support::Run({packer_, "keygen", Sub("signer")}, &output), 0) << output;
    EXPECT_EQ(testing_support::Run({packer_, "keygen", Sub("stranger")}, &output), 0) << output;
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  // Builds tree (from the folder source) into releases, signed with key,
  // and gives the patch directory.
  std::string Release(const Tree& tree, const std::string& source, const std::string& releases,
                      const std::string& key = "signer.key") {
    fs::remove_all(Sub(source));
    for (const auto& [relative, bytes] : tree) {
      std::string path = Sub(source) + testing_support::Sep() + Native(relative);
      fs::create_directories(fs::path(path).parent_path());
      WriteFileBytes(path, bytes);
      if (relative == "bin/tool") {
        fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add);
      }
    }
    std::string output;
    EXPECT_EQ(testing_support::Run(
                  {packer_, "build", Sub(source), "--releases", Sub(releases), "--sign", Sub(key)},
                  &output),
              0)
        << output;
    Strings lines = SplitLines(output);
    return lines.empty() ? std::string() : lines.back();
  }

  // A client folder with its own filedist and, when trusting, the signer's
  // public key as filedist.pub.
  std::string NewClient(const std::string& name, bool trusting) {
    MakeDirs(Sub(name));
    CopyProgramInto("filedist", Sub(name));
    if (trusting) fs::copy_file(Sub("signer.pub"), Sub(name + "/filedist.pub"));
    return Sub(name);
  }

  int Update(const std::string& client, Strings args, std::string* output) {
    args.insert(args.begin(),
                {client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix, "update"});
    return testing_support::Run(args, output);
  }

  // The released files in a client folder.
  Tree ClientFiles(const std::string& client) {
    Tree tree;
    for (const auto& [relative, unused] : kVersion1) {
      std::string path = client + testing_support::Sep() + Native(relative);
      if (FileExists(path)) tree[relative] = ReadFileBytes(path);
    }
    return tree;
  }

  ScratchDir scratch_;
  std::string packer_;
};

// Python's hashlib and the cryptography package check what the build wrote.
const char kManifestOracle[] = R"PY(
import hashlib, os, sys
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PublicKey
patch, source, pub = sys.argv[1:4]
manifest = open(os.path.join(patch, "Manifest"), "rb").read()
key = Ed25519PublicKey.from_public_bytes(bytes.fromhex(open(pub).read().split()[1]))
key.verify(bytes.fromhex(open(os.path.join(patch, "Manifest.sig")).read().split()[1]), manifest)
lines = manifest.decode().split("\n")
assert lines[0] == "filedist-manifest 1" and lines[-1] == "", lines
def digest(path):
    data = open(path, "rb").read()
    return hashlib.sha256(data).hexdigest(), len(data)
for name, line in (("VerComp.dat", lines[3]), ("Ver", lines[4])):
    tag, sha, size = line.split(" ")
    assert (sha, int(size)) == digest(os.path.join(patch, name)), line
files = [l for l in lines if l.startswith("file ")]
for line in files:
    tag, sha, size, gzsize, mode, path = line.split(" ", 5)
    relative = path[2:].replace("\\", os.sep)
    assert (sha, int(size)) == digest(os.path.join(source, relative)), line
    assert int(gzsize) == os.path.getsize(os.path.join(patch, relative)), line
    assert mode == ("x" if relative.endswith("tool") else "-"), line
assert lines[-2] == "end %d" % len(files) and len(files) == 3, lines
print("manifest checked")
)PY";

TEST_F(SignedRelease, KeygenMakesOnePairAndTheBuildSignsAVerifiableManifest) {
  std::string private_key = ReadFileBytes(Sub("signer.key"));
  std::string public_key = ReadFileBytes(Sub("signer.pub"));
  EXPECT_EQ(private_key.compare(0, 16, "ed25519-private "), 0) << private_key;
  EXPECT_EQ(public_key.compare(0, 15, "ed25519-public "), 0) << public_key;
  if (!IsWindowsProgram()) {
    EXPECT_EQ(fs::status(Sub("signer.key")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
  }
  // A second pair under the same name is refused, and nothing changes.
  std::string output;
  EXPECT_EQ(testing_support::Run({packer_, "keygen", Sub("signer")}, &output), 1) << output;
  EXPECT_NE(output.find("never overwritten"), std::string::npos) << output;
  EXPECT_EQ(ReadFileBytes(Sub("signer.key")), private_key);
  EXPECT_EQ(ReadFileBytes(Sub("signer.pub")), public_key);

  std::string patch1 = Release(kVersion1, "v1", "rel");
  EXPECT_TRUE(FileExists(patch1 + testing_support::Sep() + "Manifest.sig"));
  if (!IsWindowsProgram() && std::system("python3 -c 'import cryptography' 2>/dev/null") == 0) {
    WriteFileBytes(Sub("oracle.py"), kManifestOracle);
    EXPECT_EQ(testing_support::Run({"/usr/bin/env", "python3", Sub("oracle.py"), patch1, Sub("v1"),
                                    Sub("signer.pub")},
                                   &output),
              0)
        << output;
  }
  std::string patch2 = Release(kVersion2, "v2", "rel");
  EXPECT_EQ(SplitLines(ReadFileBytes(patch1 + testing_support::Sep() + "Manifest"))[1],
            "sequence 1");
  EXPECT_EQ(SplitLines(ReadFileBytes(patch2 + testing_support::Sep() + "Manifest"))[1],
            "sequence 2");

  // A key that is not a private key stops the build before it starts.
  size_t releases = std::distance(fs::directory_iterator(Sub("rel")), fs::directory_iterator());
  EXPECT_EQ(testing_support::Run({packer_, "build", Sub("v2"), "--releases", Sub("rel"), "--sign",
                                  Sub("signer.pub")},
                                 &output),
            1)
      << output;
  EXPECT_EQ(std::distance(fs::directory_iterator(Sub("rel")), fs::directory_iterator()),
            static_cast<std::ptrdiff_t>(releases));
}

TEST_F(SignedRelease, ATrustingClientInstallsASignedReleaseWithItsModes) {
  std::string patch1 = Release(kVersion1, "v1", "rel");
  std::string client = NewClient("client", true);
  std::string output;
  ASSERT_EQ(Update(client, {patch1}, &output), 0) << output;
  EXPECT_NE(output.find("signed by the trusted key (release 1"), std::string::npos) << output;
  EXPECT_EQ(ClientFiles(client), kVersion1);
  EXPECT_EQ(ReadFileBytes(Sub("client/.filedist-release")), "sequence 1\n");
  if (!IsWindowsProgram()) {
    EXPECT_TRUE(OwnerMayRun(Sub("client/bin/tool")));
    EXPECT_FALSE(OwnerMayRun(Sub("client/readme.txt")));
    EXPECT_FALSE(OwnerMayRun(Sub("client/data/a.txt")));
  }

  // A client without a key takes the release as before, and says so once.
  std::string plain = NewClient("plain", false);
  ASSERT_EQ(Update(plain, {patch1}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(plain), kVersion1);
  size_t first = output.find("not verified");
  EXPECT_NE(first, std::string::npos) << output;
  EXPECT_EQ(output.find("not verified", first + 1), std::string::npos) << output;
  // The Manifest still gives new files their modes.
  if (!IsWindowsProgram()) {
    EXPECT_TRUE(OwnerMayRun(Sub("plain/bin/tool")));
    EXPECT_FALSE(OwnerMayRun(Sub("plain/readme.txt")));
  }
}

// Rewrites the served release's data/a.txt and makes its list and key file
// agree, as whoever controls the server can.
void ForgeFileWithItsList(const std::string& served) {
  const char sep = testing_support::Sep();
  std::string forged = "forged data";
  std::string gz = ZlibGzip(forged);
  WriteFileBytes(served + sep + Native("data/a.txt"), gz);
  std::string list;
  for (const std::string& line : SplitLines(GunzipFile(served + sep + "VerComp.dat"))) {
    if (line.compare(0, 13, ".\\data\\a.txt,") == 0) {
      list += ".\\data\\a.txt," + KeyOfBytes(forged) + "," + std::to_string(gz.size()) + "\r\n";
    } else {
      list += line + "\r\n";
    }
  }
  WriteFileBytes(served + sep + "VerComp.dat", ZlibGzip(list));
  WriteFileBytes(served + sep + "Ver", ZlibGzip(KeyOfBytes(list) + "\r\n"));
}

// Replaces the first occurrence of from in the file at path.
void Edit(const std::string& path, const std::string& from, const std::string& to) {
  std::string text = ReadFileBytes(path);
  size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  WriteFileBytes(path, text.replace(at, from.size(), to));
}

// The signer signs a manifest whose digest for data/a.txt is not the file's:
// only the SHA-256 check of the staged file can tell.
void ResignWithWrongDigest(const std::string& served, const std::string& key_file) {
  const char sep = testing_support::Sep();
  std::string manifest_path = served + sep + "Manifest";
  std::string manifest = ReadFileBytes(manifest_path);
  size_t line = manifest.find(".\\data\\a.txt\n");
  ASSERT_NE(line, std::string::npos);
  size_t digest = manifest.rfind("file ", line) + 5;
  manifest.replace(digest, 64, std::string(64, '0'));
  WriteFileBytes(manifest_path, manifest);
  Ed25519PrivateKey key;
  ASSERT_TRUE(ReadPrivateKeyFile(key_file.c_str(), &key));
  Ed25519Signature signature;
  ASSERT_TRUE(SignEd25519(key, manifest, &signature));
  fs::remove(served + sep + "Manifest.sig");
  WriteFileBytes(served + sep + "Manifest.sig", FormatSignatureFile(signature));
}

// A real application's release: 10,000 files give a Manifest of about 1 MiB,
// far past the 64 KiB at which signing and checking aborted inside the
// signature library. Built, signed and installed; the same Manifest with a
// signature by another key is refused with the usual words, not a crash.
// Under Wine, where each file costs far more, 1,000 files (90 KiB) show it.
TEST_F(SignedRelease, AReleaseOfTenThousandFilesIsSignedCheckedAndInstalled) {
  const int kFiles = IsWindowsProgram() ? 1000 : 10000;
  Tree tree;
  for (int i = 0; i < kFiles; ++i) {
    tree["part" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".txt"] =
        "content of file " + std::to_string(i) + "\n";
  }
  std::string patch = Release(tree, "big", "rel");
  std::string strangers = Release(tree, "big", "rel-stranger", "stranger.key");
  const char sep = testing_support::Sep();
  ASSERT_GT(ReadFileBytes(patch + sep + "Manifest").size(), size_t{64} << 10);

  std::string client = NewClient("client", true);
  std::string output;
  EXPECT_EQ(Update(client, {strangers}, &output), 1) << output;
  EXPECT_NE(output.find("signature is not valid for the trusted key"), std::string::npos) << output;
  EXPECT_FALSE(FileExists(client + sep + Native("part0/file0.txt")));
  ASSERT_EQ(Update(client, {patch}, &output), 0) << output;
  EXPECT_NE(output.find("signed by the trusted key (release 1"), std::string::npos) << output;
  for (int i : {0, 1, kFiles / 2 + 1, kFiles - 1}) {
    std::string relative = "part" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".txt";
    EXPECT_EQ(ReadFileBytes(client + sep + Native(relative)), tree[relative]) << relative;
  }
  EXPECT_EQ(testing_support::Run({client + sep + "filedist" + plat::kExecutableSuffix, "verify"},
                                 &output),
            0)
      << output;
}

// Forgetting --sign in a folder of signed releases once published a release,
// or stripped a channel pointer's signature, that every trusting client then
// refused; now it stops with the folder as it was, unless --unsigned says so.
TEST_F(SignedRelease, ASignedFolderStaysSignedUnlessUnsignedIsAsked) {
  std::string patch1 = Release(kVersion1, "v1", "rel");
  const char sep = testing_support::Sep();
  const std::string latest = ReadFileBytes(Sub("rel") + sep + "LATEST");
  auto entries = [&] {
    return std::distance(fs::directory_iterator(Sub("rel")), fs::directory_iterator());
  };
  const auto before = entries();
  std::string output;
  EXPECT_EQ(testing_support::Run({packer_, "build", Sub("v1"), "--releases", Sub("rel")}, &output),
            1)
      << output;
  EXPECT_NE(output.find("are signed: give --sign KEYFILE, or --unsigned"), std::string::npos)
      << output;
  EXPECT_EQ(
      testing_support::Run({packer_, "promote", Sub("rel"), patch1, "--channel", "beta"}, &output),
      1)
      << output;
  EXPECT_NE(output.find("are signed: give --sign KEYFILE, or --unsigned"), std::string::npos)
      << output;
  EXPECT_EQ(entries(), before);
  EXPECT_EQ(ReadFileBytes(Sub("rel") + sep + "LATEST"), latest);
  EXPECT_EQ(testing_support::Run({packer_, "build", Sub("v1"), "--releases", Sub("rel"), "--sign",
                                  Sub("signer.key"), "--unsigned"},
                                 &output),
            2)
      << output;

  // Asked for, both go on.
  EXPECT_EQ(
      testing_support::Run(
          {packer_, "promote", Sub("rel"), patch1, "--channel", "beta", "--unsigned"}, &output),
      0)
      << output;
  EXPECT_TRUE(FileExists(Sub("rel") + sep + "channel.beta"));
  EXPECT_EQ(testing_support::Run(
                {packer_, "build", Sub("v1"), "--releases", Sub("rel"), "--unsigned"}, &output),
            0)
      << output;
  EXPECT_NE(ReadFileBytes(Sub("rel") + sep + "LATEST"), latest);
}

TEST_F(SignedRelease, EveryForgeryIsRefusedAndNothingIsReplaced) {
  std::string patch1 = Release(kVersion1, "v1", "rel");
  std::string patch2 = Release(kVersion2, "v2", "rel");
  std::string strangers = Release(kVersion2, "v2s", "rel-stranger", "stranger.key");
  const char sep = testing_support::Sep();
  const struct {
    const char* name;
    std::function<void(const std::string& served)> forge;
    const char* said;
    bool from_stranger;
  } cases[] = {
      {"a file with its list and key file rewritten to match", ForgeFileWithItsList,
       "VerComp.dat does not match the signed Manifest", false},
      {"a file alone",
       [](const std::string& s) {
         WriteFileBytes(s + testing_support::Sep() + Native("data/a.txt"), ZlibGzip("forged"));
       },
       "nothing was replaced", false},
      {"the list compressed anew",
       [](const std::string& s) {
         std::string path = s + testing_support::Sep() + "VerComp.dat";
         testing_support::ZlibGzipOptions options;
         options.level = 9;
         WriteFileBytes(path, ZlibGzip(GunzipFile(path), options));
       },
       "VerComp.dat does not match the signed Manifest", false},
      {"the key file compressed anew",
       [](const std::string& s) {
         std::string path = s + testing_support::Sep() + "Ver";
         testing_support::ZlibGzipOptions options;
         options.level = 1;
         options.name = "Ver";
         WriteFileBytes(path, ZlibGzip(GunzipFile(path), options));
       },
       // Longer than the size the manifest signs: cut off there, before
       // its digest is checked.
       "cannot fetch the key file Ver from", false},
      {"the manifest edited",
       [](const std::string& s) {
         Edit(s + testing_support::Sep() + "Manifest", "sequence 2", "sequence 9");
       },
       "signature is not valid for the trusted key", false},
      {"the signature damaged",
       [](const std::string& s) {
         std::string path = s + testing_support::Sep() + "Manifest.sig";
         std::string text = ReadFileBytes(path);
         text[30] = text[30] == '0' ? '1' : '0';
         WriteFileBytes(path, text);
       },
       "signature is not valid for the trusted key", false},
      {"the signature removed",
       [](const std::string& s) { fs::remove(s + testing_support::Sep() + "Manifest.sig"); },
       "the release is not signed", false},
      {"the manifest removed",
       [](const std::string& s) { fs::remove(s + testing_support::Sep() + "Manifest"); },
       "the release is not signed", false},
      {"a signature by another key", [](const std::string&) {},
       "signature is not valid for the trusted key", true},
      {"a signed digest that is not the file's",
       [this](const std::string& s) { ResignWithWrongDigest(s, Sub("signer.key")); },
       "does not match the signed Manifest", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    std::string client = NewClient("client" + std::to_string(index), true);
    std::string output;
    ASSERT_EQ(Update(client, {patch1}, &output), 0) << output;
    std::string list = ReadFileBytes(client + sep + "VerComp.dat");
    std::string served = Sub("served" + std::to_string(index++));
    fs::copy(c.from_stranger ? strangers : patch2, served, fs::copy_options::recursive);
    c.forge(served);
    EXPECT_EQ(Update(client, {served}, &output), 1) << c.name << "\n" << output;
    EXPECT_NE(output.find(c.said), std::string::npos) << c.name << "\n" << output;
    EXPECT_EQ(ClientFiles(client), kVersion1) << c.name;
    EXPECT_EQ(ReadFileBytes(client + sep + "VerComp.dat"), list) << c.name;
    EXPECT_EQ(ReadFileBytes(client + sep + ".filedist-release"), "sequence 1\n") << c.name;
  }
}

TEST_F(SignedRelease, AnOlderSignedReleaseIsRefusedUnlessDowngradeIsAllowed) {
  std::string patch1 = Release(kVersion1, "v1", "rel");
  std::string patch2 = Release(kVersion2, "v2", "rel");
  std::string client = NewClient("client", true);
  std::string output;
  ASSERT_EQ(Update(client, {patch2}, &output), 0) << output;
  EXPECT_EQ(Update(client, {patch1}, &output), 1) << output;
  EXPECT_NE(output.find("refusing release 1: it is older than the installed release 2"),
            std::string::npos)
      << output;
  EXPECT_EQ(ClientFiles(client), kVersion2);
  ASSERT_EQ(Update(client, {patch1, "--allow-downgrade"}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(client), kVersion1);
  EXPECT_EQ(ReadFileBytes(Sub("client/.filedist-release")), "sequence 1\n");

  // --trust names the key where none lies in the install folder.
  std::string other = NewClient("other", false);
  ASSERT_EQ(Update(other, {patch2, "--trust", Sub("signer.pub")}, &output), 0) << output;
  EXPECT_EQ(ClientFiles(other), kVersion2);
  EXPECT_EQ(Update(other, {patch1, "--trust", Sub("signer.pub")}, &output), 1) << output;
  EXPECT_EQ(Update(other, {patch2, "--trust", Sub("stranger.pub")}, &output), 1) << output;

  // An empty name is no key file, and never "no key", which would take the
  // release unverified: a usage error, nothing installed.
  std::string empty = NewClient("empty", false);
  for (const char* given : {"--trust=", "--trust"}) {
    Strings args = {patch2, given};
    if (std::string(given) == "--trust") args.push_back("");
    EXPECT_EQ(Update(empty, args, &output), 2) << given << "\n" << output;
    EXPECT_NE(output.find("trust takes a public key file"), std::string::npos) << output;
    EXPECT_TRUE(ClientFiles(empty).empty()) << given;
  }
}

}  // namespace

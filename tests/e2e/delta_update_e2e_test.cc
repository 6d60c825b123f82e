// Binary patches end to end: releases built one after another into one
// release folder with `filedist build`, and clients brought up to date by
// `filedist update`, which fetches a patch where one starts from what is
// installed and the whole file otherwise. md5sum is the oracle for what
// ends up installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"
#include "support/json_oracle.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CopyProgramInto;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;
using Strings = std::vector<std::string>;
using Tree = std::map<std::string, std::string>;

// Bytes that deflate cannot shrink, the same on every run: a patch of a few
// edits is then far below the compressed file.
std::string Noise(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

std::string Edited(std::string bytes, size_t at, const std::string& with) {
  bytes.replace(at, with.size(), with);
  return bytes;
}

// Four releases of a tree whose program changes a little each time.
const std::string kProgram1 = Noise(300000, 1);
const std::vector<Tree> kReleases = {
    {{"bin/app.bin", kProgram1}, {"readme.txt", "version 1"}},
    {{"bin/app.bin", Edited(kProgram1, 1000, "sixteen bytes v2")}, {"readme.txt", "version 2"}},
    {{"bin/app.bin", Edited(Edited(kProgram1, 1000, "sixteen bytes v3"), 200000, "more")},
     {"readme.txt", "version 3"}},
    {{"bin/app.bin", Edited(kProgram1, 1000, "sixteen bytes v4") + Noise(5000, 9)},
     {"readme.txt", "version 4"},
     {"new.txt", "a file of release 4"}},
};

class DeltaUpdateTest : public ::testing::Test {
 protected:
  DeltaUpdateTest() {
    MakeDirs(Sub("packer"));
    packer_ = CopyProgramInto("filedist", Sub("packer"));
  }

  std::string Sub(const std::string& relative) const { return scratch_.Sub(relative); }

  static void WriteTree(const std::string& root, const Tree& tree) {
    fs::remove_all(root);
    for (const auto& [relative, bytes] : tree) {
      fs::path path = fs::path(root) / fs::path(relative);
      fs::create_directories(path.parent_path());
      WriteFileBytes(path.string(), bytes);
    }
  }

  // Builds each tree in turn into the one release folder; the patch
  // directories, oldest first.
  Strings BuildAll(const std::vector<Tree>& trees, const Strings& extra = {}) {
    Strings patch_dirs;
    for (const Tree& tree : trees) {
      WriteTree(Sub("source"), tree);
      Strings args = {packer_, "build", Sub("source"), "--releases", Sub("releases")};
      args.insert(args.end(), extra.begin(), extra.end());
      std::string output;
      EXPECT_EQ(testing_support::Run(args, &output), 0) << output;
      Strings lines = testing_support::SplitLines(output);
      patch_dirs.push_back(lines.empty() ? "" : lines.back());
    }
    return patch_dirs;
  }

  // A client holding its own filedist and, installed from patch_dir, tree.
  std::string Client(const std::string& name, const std::string& patch_dir) {
    MakeDirs(Sub(name));
    CopyProgramInto("filedist", Sub(name));
    std::string output;
    EXPECT_EQ(Update(Sub(name), {patch_dir, "--no-delta"}, &output), 0) << output;
    return Sub(name);
  }

  int Update(const std::string& client, Strings args, std::string* output) {
    args.insert(args.begin(),
                {client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix, "update"});
    return testing_support::Run(args, output);
  }

  // The installed files' keys against the tree's, by md5sum.
  void ExpectInstalled(const std::string& client, const Tree& tree, const std::string& what) {
    for (const auto& [relative, bytes] : tree) {
      std::string installed = ReadFileBytes(client + "/" + relative);
      EXPECT_EQ(testing_support::KeyOfBytes(installed), testing_support::KeyOfBytes(bytes))
          << what << ": " << relative;
    }
    EXPECT_FALSE(fs::exists(client + "/.filedist-staging")) << what;
  }

  static int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
      ++count;
    }
    return count;
  }

  ScratchDir scratch_;
  std::string packer_;
};

// A client one release behind and one three behind both patch in one step;
// the last release offers a patch from each earlier content of the program
// within the window, and none for the unchanged or tiny files.
TEST_F(DeltaUpdateTest, ClientsSeveralReleasesBehindPatchInOneStep) {
  Strings patch_dirs = BuildAll(kReleases);
  std::string index_text = ReadFileBytes(patch_dirs[3] + "/" + kPatchIndexName);
  PatchIndex index;
  std::string error;
  ASSERT_TRUE(ParsePatchIndex(index_text, &index, &error)) << error << "\n" << index_text;
  ASSERT_EQ(index.patches.size(), 3u) << index_text;
  for (const PatchEntry& entry : index.patches) {
    EXPECT_EQ(entry.resultPath, ".\\bin\\app.bin");
    EXPECT_LT(entry.patchSize, 10000u) << entry.oldKey;  // 5000 bytes appended at most
  }

  for (int behind : {1, 3}) {
    std::string what = std::to_string(behind) + " releases behind";
    std::string client = Client("client" + std::to_string(behind), patch_dirs[3 - behind]);
    std::string output;
    ASSERT_EQ(Update(client, {patch_dirs[3]}, &output), 0) << what << "\n" << output;
    EXPECT_EQ(Count(output, "1 by patches of"), 1) << what << "\n" << output;
    EXPECT_EQ(Count(output, "failed"), 0) << what << "\n" << output;
    ExpectInstalled(client, kReleases[3], what);
  }
}

// A file edited where it is installed matches no patch: it is fetched
// whole, without a warning; --no-delta fetches whole files where patches
// would fit (and --check counts them so).
TEST_F(DeltaUpdateTest, AnEditedFileOrNoDeltaFetchesWholeFiles) {
  Strings patch_dirs = BuildAll({kReleases[0], kReleases[1]});
  std::string edited = Client("edited", patch_dirs[0]);
  WriteFileBytes(edited + "/bin/app.bin", Edited(kProgram1, 5, "local"));
  std::string output;
  ASSERT_EQ(Update(edited, {patch_dirs[1], "--repair"}, &output), 0) << output;
  EXPECT_EQ(Count(output, "by patches of"), 0) << output;
  EXPECT_EQ(Count(output, "patch for"), 0) << output;
  ExpectInstalled(edited, kReleases[1], "edited");

  std::string whole = Client("whole", patch_dirs[0]);
  // --check tells the bytes the update would fetch: the patch's, in place of
  // the whole file's that --no-delta fetches.
  std::string by_patch;
  ASSERT_EQ(Update(whole, {patch_dirs[1], "--check"}, &by_patch), 3) << by_patch;
  ASSERT_EQ(Update(whole, {patch_dirs[1], "--check", "--no-delta"}, &output), 3) << output;
  EXPECT_EQ(by_patch.substr(0, by_patch.rfind(", ")), output.substr(0, output.rfind(", ")));
  EXPECT_NE(by_patch, output);
  ASSERT_EQ(Update(whole, {patch_dirs[1], "--dry-run"}, &output), 0) << output;
  EXPECT_EQ(Count(output, "patch "), 1) << output;
  ASSERT_EQ(Update(whole, {patch_dirs[1], "--no-delta"}, &output), 0) << output;
  EXPECT_EQ(Count(output, "patch"), 0) << output;
  ExpectInstalled(whole, kReleases[1], "--no-delta");
}

// Whatever is wrong with the patch, the client says so once, fetches the
// whole file in the same run and ends with the release installed.
TEST_F(DeltaUpdateTest, ABadPatchFallsBackToTheWholeFile) {
  Strings patch_dirs = BuildAll({kReleases[0], kReleases[1], kReleases[2]});
  PatchIndex index;
  std::string error;
  ASSERT_TRUE(ParsePatchIndex(ReadFileBytes(patch_dirs[2] + "/" + kPatchIndexName), &index, &error))
      << error;
  ASSERT_EQ(index.patches.size(), 2u);
  auto file_of = [&](const PatchEntry& entry) {
    std::string relative = entry.patchPath.substr(2);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return patch_dirs[2] + "/" + relative;
  };
  // The patch from release 1's program, and the other one.
  const PatchEntry& from_first = index.patches[0].oldKey == testing_support::KeyOfBytes(kProgram1)
                                     ? index.patches[0]
                                     : index.patches[1];
  const PatchEntry& other = &from_first == &index.patches[0] ? index.patches[1] : index.patches[0];
  const std::string sound = ReadFileBytes(file_of(from_first));
  const struct {
    const char* name;
    std::string bytes;  // empty: the patch file is removed
  } faults[] = {
      {"missing", ""},
      {"truncated", sound.substr(0, sound.size() / 2)},
      {"a byte changed",
       Edited(sound, sound.size() / 2, std::string(1, sound[sound.size() / 2] ^ 0x20))},
      {"swapped for the other patch", ReadFileBytes(file_of(other))},
  };
  int n = 0;
  for (const auto& fault : faults) {
    std::string client = Client("client" + std::to_string(++n), patch_dirs[0]);
    fs::remove(file_of(from_first));
    if (!fault.bytes.empty()) WriteFileBytes(file_of(from_first), fault.bytes);
    std::string output;
    EXPECT_EQ(Update(client, {patch_dirs[2]}, &output), 0) << fault.name << "\n" << output;
    EXPECT_EQ(Count(output, "the patch for '.\\bin\\app.bin' failed"), 1) << fault.name << "\n"
                                                                          << output;
    ExpectInstalled(client, kReleases[2], fault.name);
  }
  WriteFileBytes(file_of(from_first), sound);
}

// A release with patches is, to a client that knows nothing of them, the
// release it always was: its Manifest reads with today's strict parser and
// names exactly the released files, and whole files bring it up to date.
// Signed, the patch index carries its own signature: a client that trusts
// the key (alone or beside another) patches, and one whose index signature
// fails fetches whole files.
TEST_F(DeltaUpdateTest, OldClientsAndSignedPatches) {
  std::string output;
  ASSERT_EQ(testing_support::Run({packer_, "keygen", Sub("packer/release")}, &output), 0) << output;
  Strings patch_dirs =
      BuildAll({kReleases[0], kReleases[1]}, {"--sign", Sub("packer/release.key")});
  ASSERT_TRUE(fs::exists(patch_dirs[1] + "/" + kPatchIndexSignatureName));
  ReleaseManifest manifest;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadFileBytes(patch_dirs[1] + "/" + kManifestName), &manifest, &error))
      << error;
  EXPECT_EQ(manifest.files.size(), kReleases[1].size());

  std::string trusted = Sub("packer/release.pub");
  std::string old_client = Client("old", patch_dirs[0]);
  ASSERT_EQ(Update(old_client, {patch_dirs[1], "--no-delta", "--trust", trusted}, &output), 0)
      << output;
  ExpectInstalled(old_client, kReleases[1], "old client");

  std::string signed_client = Client("signed", patch_dirs[0]);
  ASSERT_EQ(Update(signed_client, {patch_dirs[1], "--trust", trusted}, &output), 0) << output;
  EXPECT_EQ(Count(output, "1 by patches of"), 1) << output;
  ExpectInstalled(signed_client, kReleases[1], "signed");

  // During a key rotation the trust file holds a second key beside the
  // release's: the index is taken as the Manifest is, by either.
  ASSERT_EQ(testing_support::Run({packer_, "keygen", Sub("packer/next")}, &output), 0) << output;
  std::string both = Sub("both.pub");
  WriteFileBytes(both, ReadFileBytes(Sub("packer/next.pub")) + ReadFileBytes(trusted));
  std::string rotating = Client("rotating", patch_dirs[0]);
  ASSERT_EQ(Update(rotating, {patch_dirs[1], "--trust", both}, &output), 0) << output;
  EXPECT_EQ(Count(output, "not signed by the trusted key"), 0) << output;
  EXPECT_EQ(Count(output, "1 by patches of"), 1) << output;
  ExpectInstalled(rotating, kReleases[1], "two trusted keys");

  std::string sig = patch_dirs[1] + "/" + kPatchIndexSignatureName;
  std::string signature = ReadFileBytes(sig);
  signature[30] = signature[30] == 'a' ? 'b' : 'a';
  WriteFileBytes(sig, signature);
  std::string refused = Client("refused", patch_dirs[0]);
  ASSERT_EQ(Update(refused, {patch_dirs[1], "--trust", trusted}, &output), 0) << output;
  EXPECT_EQ(Count(output, "not signed by the trusted key"), 1) << output;
  EXPECT_EQ(Count(output, "by patches of"), 0) << output;
  ExpectInstalled(refused, kReleases[1], "index signature broken");
}

// --json gives the patch bytes against the whole files' in the plan and
// what was patched in the result (python's json reads it).
TEST_F(DeltaUpdateTest, JsonShowsPatchBytes) {
  if (!testing_support::CanRunPython()) GTEST_SKIP() << "python3 cannot be started here";
  Strings patch_dirs = BuildAll({kReleases[0], kReleases[1]});
  std::string client = Client("client", patch_dirs[0]);
  std::string out;
  std::string err;
  std::string program = client + testing_support::Sep() + "filedist" + plat::kExecutableSuffix;
  ASSERT_EQ(testing_support::RunApart({program, "update", patch_dirs[1], "--json"}, &out, &err), 0)
      << err;
  EXPECT_EQ(testing_support::CheckJson(out, R"(
fetch = {f['path']: f for f in d['plan']['fetch']}
app = fetch['.\\bin\\app.bin']
assert 0 < app['patch_size'] < app['size'] / 10, app
assert fetch['.\\readme.txt']['patch_size'] is None
assert d['plan']['patch_bytes'] == app['patch_size']
assert d['plan']['patched_whole_bytes'] == app['size']
assert d['result']['patched'] == ['.\\bin\\app.bin']
assert d['result']['patch_failed'] == []
)"),
            "");
}

}  // namespace

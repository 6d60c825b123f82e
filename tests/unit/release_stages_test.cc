// Stages 2 to 4 of a release build, run on an object whose directories are
// set by hand (stage 1 and BuildVer as a whole depend on the host
// executable's directory and are tested end to end).
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "release/prune_releases.h"
#include "release/release_dirs.h"
#include "release/release_sequence.h"
#include "protocol/patch_dir_name.h"
#include "support/release_oracles.h"
#include "support/test_support.h"
#include "version/file_version.h"

namespace {

using testing_support::FileExists;
using testing_support::GunzipFile;
using testing_support::MakeDirs;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::Sep;
using testing_support::SetReadOnly;
using testing_support::WriteFileBytes;

int32_t SizeOf(const std::string& path) { return static_cast<int32_t>(ReadFileBytes(path).size()); }

// A source tree src/{a.txt, empty.dat, data/b.bin} as stage 1 leaves it:
// absolute paths, plain keys and sizes.
struct ReleaseFixture {
  ScratchDir scratch;
  CFileVersion version;
  std::vector<std::string> relative = {"a.txt", "data/b.bin", "empty.dat"};
  std::vector<std::string> content = {"hello\r\n", std::string(70000, '\x01') + "tail", ""};

  ReleaseFixture() {
    MakeDirs(scratch.Sub("src/data"));
    MakeDirs(scratch.Sub("startup"));
    version.SetSourceDirs(scratch.Sub("startup"), scratch.Sub("src"));
    std::vector<std::string> keys = testing_support::KeysOfBytes(content);
    VersionRecordList scanned;
    for (size_t i = 0; i < relative.size(); ++i) {
      std::string path = scratch.Sub("src/" + relative[i]);
      WriteFileBytes(path, content[i]);
      scanned.push_back(VersionRecord{path, keys[i], static_cast<int32_t>(content[i].size()), 0});
    }
    version.SetScanList(scanned);
  }
  std::string Listed(size_t i) const {
    std::string path = ".\\" + relative[i];
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    return path;
  }
};

TEST(CompressFileVersionInfo, CompressesEveryFileAndRewritesRecords) {
  ReleaseFixture f;
  std::vector<std::string> keys;
  for (const VersionRecord& record : f.version.scan_list()) keys.push_back(record.key);
  // A missing output directory is made with its parents.
  ASSERT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out/deeper").c_str()), 1);
  EXPECT_EQ(f.version.paths().output_dir(), f.scratch.Sub("out/deeper"));
  for (size_t i = 0; i < f.relative.size(); ++i) {
    const VersionRecord& record = f.version.scan_list()[i];
    std::string packed = f.scratch.Sub("out/deeper/__CompressTemp__/" + f.relative[i]);
    EXPECT_EQ(record.path, f.Listed(i));
    EXPECT_EQ(record.key, keys[i]);
    EXPECT_EQ(record.size, SizeOf(packed));
    EXPECT_EQ(GunzipFile(packed), f.content[i]);
  }
  // The empty file is released like any other: a 20-byte member.
  EXPECT_EQ(f.version.scan_list()[2].size, 20);
}

// The scan keys a file in one reading and stage 2 compresses it in another:
// a file written in between would be listed under the old key, size and
// digest with the new bytes, and no client could install it. Each case
// changes data/b.bin after its CRC-32 and size were taken (zlib's CRC, the
// independent oracle).
TEST(CompressFileVersionInfo, AFileChangedSinceItWasKeyedStopsTheStage) {
  const struct {
    const char* name;
    std::string bytes;  // what data/b.bin holds when it is compressed
    int result;
  } cases[] = {
      {"unchanged", std::string(70000, '\x01') + "tail", 1},
      {"a byte changed, same size", std::string(70000, '\x01') + "tall", 0},
      {"grown", std::string(70000, '\x01') + "tail and more", 0},
  };
  for (const auto& c : cases) {
    ReleaseFixture f;
    std::vector<uint32_t> crcs;
    std::vector<ScanFacts> facts;
    for (const std::string& content : f.content) {
      crcs.push_back(static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(content.data()),
                                                 static_cast<uInt>(content.size()))));
      facts.emplace_back();
      facts.back().plainSize = content.size();
    }
    f.version.SetScanList(f.version.scan_list(), crcs, facts);
    WriteFileBytes(f.scratch.Sub("src/data/b.bin"), c.bytes);
    EXPECT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), c.result) << c.name;
    EXPECT_EQ(f.version.scan_list()[0].path, f.Listed(0)) << c.name;
  }
}

TEST(CompressFileVersionInfo, EmptyListMakesNoTreeAndBadArgumentsFail) {
  ReleaseFixture f;
  VersionRecordList files = f.version.scan_list();
  f.version.SetScanList({});
  EXPECT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 1);
  EXPECT_TRUE(FileExists(f.scratch.Sub("out")));
  EXPECT_FALSE(FileExists(f.scratch.Sub("out/__CompressTemp__")));

  EXPECT_EQ(f.version.CompressFileVersionInfo(nullptr), 0);

  // A listed file that has gone: the stage stops there; earlier entries
  // keep their new form.
  files[1].path = f.scratch.Sub("src/gone.bin");
  f.version.SetScanList(files);
  EXPECT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 0);
  EXPECT_EQ(f.version.scan_list()[0].path, f.Listed(0));
  EXPECT_EQ(f.version.scan_list()[1].path, f.scratch.Sub("src/gone.bin"));
}

TEST(WriteFileVersionInfo, WritesListAndKeyPlainAndCompressed) {
  ReleaseFixture f;
  ASSERT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 1);
  ASSERT_EQ(f.version.WriteFileVersionInfo(), 1);

  std::string list_path = f.scratch.Sub("startup/VerComp.dat");
  std::string expected;
  for (const VersionRecord& record : f.version.scan_list()) {
    expected += record.path + "," + record.key + "," + std::to_string(record.size) + "\r\n";
  }
  EXPECT_EQ(ReadFileBytes(list_path), expected);
  std::string ver = ReadFileBytes(f.scratch.Sub("startup/Ver"));
  EXPECT_EQ(ver, testing_support::KeyOfBytes(expected) + "\r\n");
  EXPECT_EQ(ver.size(), 34u);
  EXPECT_EQ(GunzipFile(f.scratch.Sub("out/__CompressTemp__/VerComp.dat")), expected);
  EXPECT_EQ(GunzipFile(f.scratch.Sub("out/__CompressTemp__/Ver")), ver);
}

TEST(WriteFileVersionInfo, FailsOnEmptyListAndProtectedFiles) {
  ReleaseFixture f;
  ASSERT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 1);
  VersionRecordList files = f.version.scan_list();

  f.version.SetScanList({});
  EXPECT_EQ(f.version.WriteFileVersionInfo(), 0);
  EXPECT_FALSE(FileExists(f.scratch.Sub("startup/VerComp.dat")));

  // A read-only list stays as it was.
  f.version.SetScanList(files);
  std::string list_path = f.scratch.Sub("startup/VerComp.dat");
  WriteFileBytes(list_path, "old list");
  SetReadOnly(list_path, true);
  EXPECT_EQ(f.version.WriteFileVersionInfo(), 0);
  EXPECT_EQ(ReadFileBytes(list_path), "old list");
  SetReadOnly(list_path, false);

  // A read-only key file: the list is written, the key is not.
  std::string key_path = f.scratch.Sub("startup/Ver");
  WriteFileBytes(key_path, "old key");
  SetReadOnly(key_path, true);
  EXPECT_EQ(f.version.WriteFileVersionInfo(), 0);
  EXPECT_NE(ReadFileBytes(list_path), "old list");
  EXPECT_EQ(ReadFileBytes(key_path), "old key");
}

TEST(GenerateReleasePatch, CopiesTheCompressedTreeIntoADatedDirectory) {
  ReleaseFixture f;
  ASSERT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 1);
  ASSERT_EQ(f.version.WriteFileVersionInfo(), 1);
  // Relative release directories are taken against the startup directory.
  char patch_dir[1024];
  std::memset(patch_dir, 'x', sizeof(patch_dir));
  ASSERT_EQ(f.version.GenerateReleasePatch("patches", patch_dir), 1);

  // Until it is whole the release is written under a name that nothing
  // takes for a release; placing it gives it its own.
  std::string patch = patch_dir;
  std::string prefix = f.scratch.Sub("startup/patches") + Sep();
  EXPECT_FALSE(FileExists(patch)) << patch;
  EXPECT_EQ(f.version.paths().patch_dir(),
            prefix + PartialPatchDirName(patch.substr(prefix.size())));
  ASSERT_EQ(f.version.PlaceReleasePatch(), 1);
  EXPECT_EQ(patch, f.version.paths().patch_dir());
  ASSERT_EQ(patch.compare(0, prefix.size(), prefix), 0) << patch;
  EXPECT_TRUE(IsPatchDirName(patch.substr(prefix.size()))) << patch;
  for (size_t i = 0; i < f.relative.size(); ++i) {
    std::string released = patch + Sep() + f.relative[i];
    for (char& c : released) {
      if (c == '/') c = Sep();
    }
    EXPECT_EQ(GunzipFile(released), f.content[i]);
  }
  EXPECT_EQ(GunzipFile(patch + Sep() + "VerComp.dat"),
            ReadFileBytes(f.scratch.Sub("startup/VerComp.dat")));
  EXPECT_EQ(GunzipFile(patch + Sep() + "Ver"), ReadFileBytes(f.scratch.Sub("startup/Ver")));

  // The patch names the compressed files rather than copying them (the
  // scratch directory's file system allows it): they are one file.
  std::string temporary = f.scratch.Sub("out/__CompressTemp__/a.txt");
  WriteFileBytes(temporary, "changed through the temporary name");
  EXPECT_EQ(ReadFileBytes(patch + Sep() + "a.txt"), "changed through the temporary name");

  // A second run, within the same second or not, makes a directory of its
  // own and leaves the first one's files alone.
  std::string earlier = patch + Sep() + "a.txt";
  std::filesystem::remove(earlier);
  WriteFileBytes(earlier, "earlier release");
  char again[1024];
  ASSERT_EQ(f.version.GenerateReleasePatch("patches", again), 1);
  EXPECT_NE(patch, std::string(again));
  EXPECT_TRUE(IsPatchDirName(std::string(again).substr(prefix.size()))) << again;
  EXPECT_EQ(ReadFileBytes(earlier), "earlier release");
  EXPECT_EQ(ReadFileBytes(f.version.paths().patch_dir() + Sep() + "a.txt"),
            "changed through the temporary name");

  // A build stopped here (Ctrl-C) leaves a directory that is no release: it
  // takes no sequence number and no pruning lists it, and the next build
  // removes it.
  const std::string releases = f.scratch.Sub("startup/patches");
  WriteFileBytes(patch + Sep() + "Manifest", "filedist-manifest 1\nsequence 4\n");
  WriteFileBytes(f.version.paths().patch_dir() + Sep() + "Manifest",
                 "filedist-manifest 1\nsequence 9\n");
  EXPECT_EQ(NextReleaseSequence(releases), 5u);
  std::vector<PruneEntry> entries;
  std::vector<std::string> failed;
  std::string error;
  PruneSettings settings;
  settings.keep = 1;
  settings.dry_run = true;
  ASSERT_TRUE(PruneReleases(releases, settings, &entries, &failed, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(prefix + entries[0].patch, patch);
  RemovePartialPatchDirs(releases);
  EXPECT_FALSE(FileExists(f.version.paths().patch_dir()));
  EXPECT_TRUE(FileExists(patch));
}

TEST(GenerateReleasePatch, FailsWithoutTouchingTheCallerBufferWhenThePathCannotBeMade) {
  ReleaseFixture f;
  ASSERT_EQ(f.version.CompressFileVersionInfo(f.scratch.Sub("out").c_str()), 1);
  ASSERT_EQ(f.version.WriteFileVersionInfo(), 1);
  char patch_dir[1024] = "untouched";

  EXPECT_EQ(f.version.GenerateReleasePatch(nullptr, patch_dir), 0);
  EXPECT_STREQ(patch_dir, "untouched");

  // With the dated name the path would pass 1023 characters: it fails
  // rather than overrun a 1024-byte buffer.
  std::string long_release = f.scratch.path();
  while (long_release.size() < 1010) long_release += Sep() + std::string(50, 'r');
  EXPECT_EQ(f.version.GenerateReleasePatch(long_release.c_str(), patch_dir), 0);
  EXPECT_STREQ(patch_dir, "untouched");
  EXPECT_TRUE(f.version.paths().patch_dir().empty());

  // A null buffer is allowed.
  EXPECT_EQ(f.version.GenerateReleasePatch(f.scratch.Sub("rel").c_str(), nullptr), 1);
}

TEST(ReleaseDirs, PatchDirectoryNames) {
  EXPECT_EQ(PatchDirName(plat::LocalTime{2009, 6, 30, 17, 5, 9, 42}), "Patch_20090630_170509");
  EXPECT_EQ(PatchDirName(plat::LocalTime{2010, 12, 1, 0, 0, 0, 0}), "Patch_20101201_000000");
  const struct {
    const char* name;
    bool matches;
  } cases[] = {{"Patch_20090630_170509", true},   {"Patch_2009063_170509", false},
               {"patch_20090630_170509", false},  {"Patch_20090630_17050x", false},
               {"Patch_20090630_1705090", false}, {"Patch_20090630-170509", false}};
  for (const auto& c : cases) EXPECT_EQ(IsPatchDirName(c.name), c.matches) << c.name;
}

TEST(ReleaseDirs, NamesTheTemporaryTreeAndExistingPatchDirectories) {
  ScratchDir scratch;
  MakeDirs(scratch.Sub("rel/Patch_20090630_170509"));
  MakeDirs(scratch.Sub("rel/Patch_other"));
  WriteFileBytes(scratch.Sub("rel/Patch_20090630_170510"), "a file, not a directory");
  // A channel's pair as a stopped publishing left it pending.
  WriteFileBytes(scratch.Sub("rel/channel.beta.next"), "pointer");
  WriteFileBytes(scratch.Sub("rel/channel.beta.sig.next"), "signature");
  WriteFileBytes(scratch.Sub("rel/channel.be.ta.next"), "no channel's");
  std::vector<std::string> dirs =
      ReleaseOutputDirs(scratch.Sub("out").c_str(), scratch.Sub("rel").c_str());
  EXPECT_EQ(dirs,
            (std::vector<std::string>{
                scratch.Sub("out/__CompressTemp__"), scratch.Sub("rel/LATEST"),
                scratch.Sub("rel/channel.beta.next"), scratch.Sub("rel/channel.beta.sig.next"),
                scratch.Sub("rel/Patch_20090630_170509")}));
  EXPECT_TRUE(ReleaseOutputDirs(nullptr, nullptr).empty());
}

}  // namespace

// A rebuild into a release folder that holds an earlier release takes the
// compressed files of unchanged paths from it, once checked, and gives
// exactly the release a full build gives.
#include <algorithm>

#include "e2e/build_release_fixture.h"
#include "support/gzip_oracle.h"

namespace {

using namespace build_e2e;

// The manifest without the lines that differ between any two builds: the
// release's number and its build time.
std::string ManifestWithoutNumberAndTime(const std::string& text) {
  std::string kept;
  for (const std::string& line : SplitLines(text)) {
    if (line.compare(0, 9, "sequence ") == 0 || line.compare(0, 6, "built ") == 0) continue;
    kept += line + "\n";
  }
  return kept;
}

// Every file below dir with its bytes.
std::vector<std::pair<std::string, std::string>> Contents(const std::string& dir) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const std::string& relative : FilesBelow(dir)) {
    std::string bytes = ReadFileBytes(dir + Sep() + Native(relative));
    if (relative == "Manifest") bytes = ManifestWithoutNumberAndTime(bytes);
    files.emplace_back(relative, bytes);
  }
  return files;
}

class BuildIncremental : public BuildVerHost {
 protected:
  // The build record of a patch directory, beside it in the release folder.
  static std::string RecordOf(const std::string& patch_dir) {
    fs::path patch(patch_dir);
    return (patch.parent_path() / ".build-records" / patch.filename()).string();
  }

  std::string Summary(const Strings& printed) const {
    return printed.size() >= 2 ? printed[printed.size() - 2] : std::string();
  }
};

TEST_F(BuildIncremental, ARebuildTakesUnchangedFilesAndEqualsAFullBuild) {
  std::string first = BuildOk({});
  WriteFileBytes(Source("a.txt"), "hello again\r\n");             // changed
  WriteFileBytes(Source("docs/added.txt"), "a file of its own");  // new

  Strings printed;
  std::string rebuilt = BuildOk({}, &printed);
  // Five files did not change; of the seven released, two are compressed.
  EXPECT_NE(Summary(printed).find("released 6 files (3 left out by Filters.ini, 4 unchanged"),
            std::string::npos)
      << Summary(printed);
  std::string list = ReadFileBytes(Packer("VerComp.dat"));

  // A full build of the same tree into a folder of its own.
  std::string full = BuildOk({"--releases", Packer("full")});
  EXPECT_EQ(ReadFileBytes(Packer("VerComp.dat")), list);
  EXPECT_EQ(Contents(rebuilt), Contents(full));
  EXPECT_EQ(GunzipFile(rebuilt + Sep() + "a.txt"), "hello again\r\n");

  // BuildVer itself takes from the rebuilt release in the same way.
  std::string host = BuildVerInPacker(1, source_, ".", "releases");
  ASSERT_EQ(host.compare(0, 8, "BUILD=1 "), 0) << host;
  EXPECT_EQ(Contents(host.substr(8)), Contents(full));
  // The earlier releases are as they were.
  EXPECT_EQ(GunzipFile(first + Sep() + "a.txt"), "hello\r\n");
}

TEST_F(BuildIncremental, ADamagedEarlierFileIsCompressedAfresh) {
  std::string first = BuildOk({});
  std::string notes = files_[4].content;
  ASSERT_EQ(files_[4].relative, "docs/notes.txt");
  std::string sound = ReadFileBytes(first + Sep() + Native("docs/notes.txt"));
  const struct {
    const char* name;
    std::string bytes;
  } damages[] = {
      {"cut short", sound.substr(0, sound.size() - 5)},
      {"a byte changed in the data", sound.substr(0, 15) + char(sound[15] ^ 1) + sound.substr(16)},
      {"a second member after it", sound + sound},
      {"a sound member of other bytes", testing_support::ZlibGzip(std::string(20000, 'm'))},
      {"not gzip at all", std::string(20000, 'n')},
  };
  std::string full = BuildOk({"--releases", Packer("full")});
  int folder = 0;
  for (const auto& damage : damages) {
    // The newest release of a folder holds the damaged file.
    Strings releases = {"--releases", Packer("rel" + std::to_string(++folder))};
    std::string earlier = BuildOk(releases);
    std::string damaged = earlier + Sep() + Native("docs/notes.txt");
    fs::remove(damaged);  // a name of its own, not the linked file
    WriteFileBytes(damaged, damage.bytes);
    Strings printed;
    std::string rebuilt = BuildOk(releases, &printed);
    EXPECT_EQ(GunzipFile(rebuilt + Sep() + Native("docs/notes.txt")), notes) << damage.name;
    EXPECT_EQ(Contents(rebuilt), Contents(full)) << damage.name;
    EXPECT_NE(Summary(printed).find("4 unchanged"), std::string::npos)
        << damage.name << ": " << Summary(printed);
  }
}

// The build record beside a release gives the SHA-256 and size of every
// compressed file (sha256sum is the oracle) and the key and size of its
// plain content (md5sum), and a rebuild takes a file that
// still has its recorded digest as it is, without decoding it: here a file
// the decoder would refuse (a second member after the first), recorded so.
TEST_F(BuildIncremental, ARebuildTakesARecordedFileWithoutDecodingIt) {
#ifdef _WIN32
  GTEST_SKIP() << "sha256sum, the oracle, runs natively only";
#endif
  std::string first = BuildOk({});
  std::string record = ReadFileBytes(RecordOf(first));
  Strings lines = SplitLines(record);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front(), "filedist-build-record 1");
  EXPECT_EQ(lines.back(), "end " + std::to_string(lines.size() - 2));
  auto sha256sum = [](const std::string& path) {
    std::string output;
    EXPECT_EQ(testing_support::Run({"/usr/bin/sha256sum", path}, &output), 0);
    return output.substr(0, 64);
  };
  // member SHA256 GZSIZE KEY PLAINSHA256 PLAINSIZE CRC .\\PATH
  auto fields_of = [](std::string rest) {
    Strings fields;
    for (int f = 0; f < 7; ++f) {
      fields.push_back(rest.substr(0, rest.find(' ')));
      rest = rest.substr(rest.find(' ') + 1);
    }
    fields.push_back(rest);
    return fields;
  };
  std::string notes_line;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    Strings fields = fields_of(lines[i]);
    std::string relative = fields[7].substr(2);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    std::string member = first + Sep() + Native(relative);
    std::string plain;
    for (const SourceFile& file : files_) {
      if (file.relative == relative) plain = file.content;
    }
    EXPECT_EQ(fields[0], "member");
    EXPECT_EQ(fields[1], sha256sum(member)) << relative;
    EXPECT_EQ(fields[2], std::to_string(ReadFileBytes(member).size())) << relative;
    EXPECT_EQ(fields[3], testing_support::KeyOfBytes(plain)) << relative;
    EXPECT_EQ(fields[5], std::to_string(plain.size())) << relative;
    if (relative == "docs/notes.txt") notes_line = lines[i];
  }
  ASSERT_FALSE(notes_line.empty());

  std::string notes = first + Sep() + Native("docs/notes.txt");
  std::string doubled = ReadFileBytes(notes) + ReadFileBytes(notes);
  fs::remove(notes);
  WriteFileBytes(notes, doubled);
  Strings fields = fields_of(notes_line);
  fields[1] = sha256sum(notes);
  fields[2] = std::to_string(doubled.size());
  std::string recorded = fields[0];
  for (size_t f = 1; f < fields.size(); ++f) recorded += " " + fields[f];
  record.replace(record.find(notes_line), notes_line.size(), recorded);
  WriteFileBytes(RecordOf(first), record);

  std::string rebuilt = BuildOk({});
  EXPECT_EQ(ReadFileBytes(rebuilt + Sep() + Native("docs/notes.txt")), doubled);
}

}  // namespace

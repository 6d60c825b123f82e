// The install record (.filedist-install): the reader takes only what the
// writer writes, never through a link, and the writer refuses what it could
// not read back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"
#include "update/install_paths.h"
#include "update/install_status.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

const std::string kGood =
    "filedist-install 1\n"
    "source https://example.org/releases/\n"
    "channel beta\n"
    "patch Patch_20261207_120000\n"
    "pointer 3\n"
    "sequence 12\n"
    "verified yes\n"
    "installed 2026-12-07T12:00:00Z\n";

std::string Replace(const std::string& text, const std::string& from, const std::string& to) {
  std::string result = text;
  result.replace(result.find(from), from.size(), to);
  return result;
}

TEST(InstallRecord, ReadsWhatItWritesAndNothingElse) {
  update::InstallRecord record;
  ASSERT_TRUE(update::ParseInstallRecord(kGood, &record));
  EXPECT_EQ(record.source, "https://example.org/releases/");
  EXPECT_EQ(record.channel, "beta");
  EXPECT_EQ(record.patch, "Patch_20261207_120000");
  EXPECT_EQ(record.pointer, 3u);
  EXPECT_TRUE(record.has_sequence);
  EXPECT_EQ(record.sequence, 12u);
  EXPECT_TRUE(record.verified);
  EXPECT_EQ(update::FormatInstallRecord(record), kGood);

  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"CR LF line ends", Replace(kGood, "beta\n", "beta\r\n")},
      {"no last line end", kGood.substr(0, kGood.size() - 1)},
      {"a line missing", Replace(kGood, "verified yes\n", "")},
      {"a line more", kGood + "extra\n"},
      {"another format", Replace(kGood, "filedist-install 1", "filedist-install 2")},
      {"empty source", Replace(kGood, "source https://example.org/releases/", "source ")},
      {"sequence with a leading zero", Replace(kGood, "sequence 12", "sequence 012")},
      {"sequence beyond 64 bits", Replace(kGood, "sequence 12", "sequence 99999999999999999999")},
      {"sequence not a number", Replace(kGood, "sequence 12", "sequence 1x")},
      {"pointer zero", Replace(kGood, "pointer 3", "pointer 0")},
      {"pointer missing", Replace(kGood, "pointer 3\n", "")},
      {"verified neither yes nor no", Replace(kGood, "verified yes", "verified maybe")},
      {"patch with a separator", Replace(kGood, "Patch_20261207_120000", "../Patch_1")},
      {"channel with a space", Replace(kGood, "channel beta", "channel be ta")},
      {"time without zone", Replace(kGood, "12:00:00Z", "12:00:00")},
      {"lines out of order",
       Replace(kGood, "sequence 12\nverified yes\n", "verified yes\nsequence 12\n")},
  };
  for (const Case& c : cases) {
    update::InstallRecord unused;
    EXPECT_FALSE(update::ParseInstallRecord(c.text, &unused)) << c.name;
  }
  EXPECT_TRUE(update::ParseInstallRecord(Replace(kGood, "sequence 12", "sequence -"), &record));
  EXPECT_FALSE(record.has_sequence);
}

// The record's numbers are whole numbers from 0 (the pointer from 1) with at
// most 19 digits, and its names take a dot: records written by earlier
// updaters read as they did.
TEST(InstallRecord, NumbersAndNamesKeepTheirBounds) {
  const std::string kMost = std::string(19, '9');
  const struct {
    const char* from;
    std::string to;
    bool read;
  } cases[] = {
      {"sequence 12", "sequence 0", true},
      {"sequence 12", "sequence " + kMost, true},
      {"sequence 12", "sequence 1" + std::string(19, '0'), false},
      {"sequence 12", "sequence 00", false},
      {"sequence 12", "sequence ", false},
      {"sequence 12", "sequence +12", false},
      {"pointer 3", "pointer " + kMost, true},
      {"pointer 3", "pointer 03", false},
      {"pointer 3", "pointer -", true},
      {"channel beta", "channel be.ta", true},
      {"channel beta", "channel " + std::string(64, 'b'), true},
      {"channel beta", "channel " + std::string(65, 'b'), false},
      {"channel beta", "channel a+b", false},
      {"Patch_20261207_120000", "Patch.1-x_Y", true},
      {"Patch_20261207_120000", "Patch/1", false},
  };
  for (const auto& c : cases) {
    update::InstallRecord record;
    EXPECT_EQ(update::ParseInstallRecord(Replace(kGood, c.from, c.to), &record), c.read) << c.to;
  }
  update::InstallRecord record;
  ASSERT_TRUE(
      update::ParseInstallRecord(Replace(kGood, "sequence 12", "sequence " + kMost), &record));
  EXPECT_EQ(record.sequence, 9999999999999999999u);
}

TEST(InstallRecord, WritesDurablyAndRefusesWhatCannotBeReadBack) {
  ScratchDir dir;
  update::InstallRecord record;
  update::InstallRecord read;
  EXPECT_EQ(update::ReadInstallRecord(dir.path(), &read), update::RecordState::kNone);
  record.source = "/srv/releases";
  record.patch = "Patch_20261207_120000";
  record.installed = update::UtcTimeNow();
  std::string error;
  ASSERT_TRUE(update::WriteInstallRecord(dir.path(), record, &error)) << error;
  ASSERT_EQ(update::ReadInstallRecord(dir.path(), &read), update::RecordState::kRead);
  EXPECT_EQ(update::FormatInstallRecord(read), update::FormatInstallRecord(record));
  EXPECT_FALSE(testing_support::FileExists(dir.Sub(update::kInstallRecordTemporaryName)));

  // A source with a line break would write a second line the reader takes
  // for a field of its own.
  update::InstallRecord forged = record;
  forged.source = "/srv/releases\nchannel evil";
  EXPECT_FALSE(update::WriteInstallRecord(dir.path(), forged, &error));
  ASSERT_EQ(update::ReadInstallRecord(dir.path(), &read), update::RecordState::kRead);
  EXPECT_EQ(read.source, "/srv/releases");
}

TEST(InstallRecord, ALinkIsNotFollowed) {
  ScratchDir dir;
  WriteFileBytes(dir.Sub("elsewhere"), kGood);
  std::error_code error;
  fs::create_symlink(dir.Sub("elsewhere"), dir.Sub(update::kInstallRecordName), error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  update::InstallRecord read;
  EXPECT_EQ(update::ReadInstallRecord(dir.path(), &read), update::RecordState::kDamaged);
  // The updater's own name: a release cannot place a file there.
  EXPECT_TRUE(update::IsUpdaterEntry(update::kInstallRecordName, ""));
  EXPECT_TRUE(update::IsUpdaterEntry(update::kInstallRecordTemporaryName, ""));
}

}  // namespace

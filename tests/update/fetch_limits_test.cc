// The engine driven in-process with a server that never stops sending: the
// transfer is cut off at the size the list records, nothing is installed,
// and no partial file is left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/gzip_oracle.h"
#include "support/release_tree.h"
#include "support/test_support.h"
#include "update/folder_fetcher.h"
#include "update/update_engine.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;

// Serves the release folder, except that one file's body never ends.
class EndlessFetcher : public update::ReleaseFetcher {
 public:
  EndlessFetcher(const std::string& root, std::string endless, uint64_t most = uint64_t{1} << 30)
      : folder_(root), endless_(std::move(endless)), most_(most) {}
  std::string Location() const override { return folder_.Location(); }
  bool Fetch(const std::vector<std::string>& parts, const update::FetchSink& sink,
             std::string* error) override {
    if (parts.back() != endless_) return folder_.Fetch(parts, sink, error);
    std::string chunk(1 << 16, 'z');
    // A bound for the test's own sake: an engine that never stops the
    // transfer fails here instead of filling the disk.
    for (sent_ = 0; sent_ < most_; sent_ += chunk.size()) {
      if (!sink(chunk.data(), chunk.size())) {
        *error = "stopped by the receiver";
        return false;
      }
    }
    return true;
  }
  uint64_t sent() const { return sent_; }

 private:
  testing_support::FolderFetcher folder_;
  std::string endless_;
  uint64_t most_;
  uint64_t sent_ = 0;
};

class Collector : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { text += line + "\n"; }
  void Problem(const std::string& line) override { text += line + "\n"; }
  std::string text;
};

TEST(UpdateFetchLimits, EndlessBodyIsCutOffAtTheListedSize) {
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), {{"a.txt", "alpha"}, {"big.bin", "bravo"}});
  std::string install = scratch.Sub("install");
  testing_support::MakeDirs(install);
  EndlessFetcher fetcher(scratch.Sub("rel"), "big.bin");
  Collector reporter;
  update::UpdateOptions options;
  options.install_dir = install;
  EXPECT_EQ(update::RunUpdate(options, &fetcher, &reporter), 1) << reporter.text;
  EXPECT_LT(fetcher.sent(), uint64_t{1} << 20);
  EXPECT_NE(reporter.text.find("'.\\big.bin'"), std::string::npos) << reporter.text;
  EXPECT_EQ(testing_support::ReadInstall(install), testing_support::Tree());
  for (const auto& item : fs::recursive_directory_iterator(install)) {
    EXPECT_FALSE(item.is_regular_file() && item.file_size() > 4096) << item.path();
  }
}

// A signed release gives the sizes of its list and key file: a trusted
// client stops there instead of taking megabytes it would refuse anyway.
TEST(UpdateFetchLimits, TrustedClientStopsAtTheSignedSizeOfListAndKeyFile) {
  for (const std::string endless : {"VerComp.dat", "Ver"}) {
    SCOPED_TRACE(endless);
    ScratchDir scratch;
    std::string sep(1, testing_support::Sep());
    testing_support::MakeDirs(scratch.Sub("packer"));
    testing_support::MakeDirs(scratch.Sub("source"));
    testing_support::MakeDirs(scratch.Sub("install"));
    testing_support::WriteFileBytes(scratch.Sub("source") + sep + "a.txt", "alpha");
    std::string packer = testing_support::CopyProgramInto("filedist", scratch.Sub("packer"));
    std::string output;
    ASSERT_EQ(testing_support::Run({packer, "keygen", scratch.Sub("signer")}, &output), 0)
        << output;
    ASSERT_EQ(testing_support::Run({packer, "build", scratch.Sub("source"), "--releases",
                                    scratch.Sub("rel"), "--sign", scratch.Sub("signer.key")},
                                   &output),
              0)
        << output;
    std::string patch = testing_support::SplitLines(output).back();
    // Sixteen megabytes at most: an engine held only by its general bound
    // takes them all.
    EndlessFetcher fetcher(patch, endless, uint64_t{16} << 20);
    Collector reporter;
    update::UpdateOptions options;
    options.install_dir = scratch.Sub("install");
    options.trusted_key = scratch.Sub("signer.pub");
    EXPECT_EQ(update::RunUpdate(options, &fetcher, &reporter), 1) << reporter.text;
    EXPECT_LT(fetcher.sent(), uint64_t{1} << 17) << reporter.text;
    EXPECT_EQ(testing_support::ReadInstall(scratch.Sub("install")), testing_support::Tree());
  }
}

// A gzip bomb as the key file of an unsigned release (sixteen megabytes of
// zeros in some sixteen kilobytes) is decoded no further than a key file
// can go: the list and key file are bounded by what they may decode to, not
// by the thousandfold deflate allows, which would fill the disk first.
TEST(UpdateFetchLimits, KeyFileBombIsDecodedNoFurtherThanAKeyFileGoes) {
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), {{"a.txt", "alpha"}});
  std::string sep(1, testing_support::Sep());
  testing_support::WriteFileBytes(scratch.Sub("rel") + sep + "Ver",
                                  testing_support::ZlibGzip(std::string(16 << 20, '0')));
  std::string install = scratch.Sub("install");
  testing_support::MakeDirs(install);
  testing_support::FolderFetcher fetcher(scratch.Sub("rel"));
  Collector reporter;
  update::UpdateOptions options;
  options.install_dir = install;
  EXPECT_EQ(update::RunUpdate(options, &fetcher, &reporter), 1) << reporter.text;
  EXPECT_NE(reporter.text.find("beyond the 65536 bytes such a file may have"), std::string::npos)
      << reporter.text;
  EXPECT_EQ(testing_support::ReadInstall(install), testing_support::Tree());
}

}  // namespace

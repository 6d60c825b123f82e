// What an earlier run left of a file in the staging folder is gone on from
// only where it leads to the file the release lists: bytes there that are
// damaged, or the start of another compression of the same file (a release
// rebuilt since), cost one fetch from the start, not a failed update.
#include <gtest/gtest.h>

#include <string>

#include "support/gzip_oracle.h"
#include "support/release_oracles.h"
#include "support/release_tree.h"
#include "support/test_support.h"
#include "update/folder_fetcher.h"
#include "update/install_paths.h"
#include "update/update_engine.h"

namespace {

using testing_support::ScratchDir;
using testing_support::Tree;
using testing_support::ZlibGzip;

class Collector : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { text += line + "\n"; }
  void Problem(const std::string& line) override { text += line + "\n"; }
  std::string text;
};

TEST(StagedFetch, LeftoverThatLeadsElsewhereIsFetchedAgain) {
  const std::string big = testing_support::TextLike(200000, 9);
  const Tree tree = {{"a.txt", "alpha"}, {"big.txt", big}};
  const std::string genuine = ZlibGzip(big);
  std::string damaged = genuine.substr(0, genuine.size() / 2);
  damaged[damaged.size() / 2] = static_cast<char>(damaged[damaged.size() / 2] ^ 0x5a);
  testing_support::ZlibGzipOptions fastest;
  fastest.level = 1;
  const std::string other = ZlibGzip(big, fastest);
  const struct Case {
    const char* name;
    std::string leftover;
  } cases[] = {
      {"damaged", damaged},
      {"another compression", other.substr(0, genuine.size() / 2)},
      {"no gzip at all", "\x1f\x8b this is no deflate data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    testing_support::WriteRelease(scratch.Sub("rel"), tree);
    std::string install = scratch.Sub("install");
    std::string staging = install + testing_support::Sep() + update::kStagingName;
    testing_support::MakeDirs(staging);
    testing_support::WriteFileBytes(staging + testing_support::Sep() +
                                        testing_support::KeyOfBytes(big) + ".download",
                                    c.leftover);
    testing_support::FolderFetcher fetcher(scratch.Sub("rel"));
    Collector reporter;
    update::UpdateOptions options;
    options.install_dir = install;
    EXPECT_EQ(update::RunUpdate(options, &fetcher, &reporter), 0) << reporter.text;
    EXPECT_TRUE(testing_support::ReadInstall(install) == tree) << reporter.text;
  }
}

}  // namespace

// What an update may use of the machine beyond its install folder: no
// temporary folder of the system's, and no more memory than a line's limit
// for a list line that never ends.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/release_tree.h"
#include "support/test_support.h"
#include "version/version_list.h"

namespace {

using testing_support::ScratchDir;

// An update writes only inside its install folder: with the system's
// temporary folder gone it works all the same.
TEST(UpdateResources, NeedsNoTemporaryFolder) {
  ScratchDir scratch;
  testing_support::WriteRelease(scratch.Sub("rel"), {{"a.txt", "alpha"}, {"d/b.txt", "bravo"}});
  testing_support::MakeDirs(scratch.Sub("client"));
  std::string program = testing_support::CopyProgramInto("filedist", scratch.Sub("client"));
  std::string output;
  const char* saved = std::getenv("TMPDIR");
  std::string old = saved != nullptr ? saved : "";
  setenv("TMPDIR", scratch.Sub("no-such-folder").c_str(), 1);
  int status = testing_support::Run({program, "update", scratch.Sub("rel")}, &output);
  if (saved != nullptr) {
    setenv("TMPDIR", old.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(testing_support::ReadInstall(scratch.Sub("client"), "filedist"),
            (testing_support::Tree{{"a.txt", "alpha"}, {"d/b.txt", "bravo"}}));
}

long PeakResidentKiB() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A list of 512 MiB without a line feed (a sparse file of zeros) is read in
// a bounded amount of memory, and the records around an overlong line
// still count.
TEST(UpdateResources, EndlessListLineIsNotHeld) {
  ScratchDir scratch;
  std::string path = scratch.Sub("endless.dat");
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("first,k1,1\n", file);
  ASSERT_EQ(ftruncate(fileno(file), 512L << 20), 0);
  std::fseek(file, 0, SEEK_END);
  std::fputs("\nlast,k2,2\n", file);
  std::fclose(file);
  long before = PeakResidentKiB();
  VersionRecordList records;
  PathIndex index;
  ASSERT_TRUE(ReadVersionList(path.c_str(), &records, &index));
  EXPECT_LT(PeakResidentKiB() - before, 64L * 1024) << "KiB more at the peak";
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].path, "first");
  EXPECT_EQ(records[1].path, "last");
}

}  // namespace

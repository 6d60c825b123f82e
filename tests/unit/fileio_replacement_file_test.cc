// The one durable writer of whole files: a reader finds the old contents or
// the new ones, never part of either, and nothing of the writing is left
// beside the file.
#include "fileio/replacement_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/power_cut_layer.h"
#include "support/test_support.h"

namespace {

using testing_support::NamesIn;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

TEST(ReplaceFileDurably, ReplacesTheWholeFileAndLeavesNothingBeside) {
  ScratchDir scratch;
  const std::string target = scratch.Sub("LATEST");
  std::string error;
  const char* const contents[] = {"a first text, rather long\n", "short\n", "", "again\n"};
  for (const char* text : contents) {
    ASSERT_TRUE(ReplaceFileDurably(target, text, &error)) << error;
    EXPECT_EQ(ReadFileBytes(target), text);
    EXPECT_EQ(NamesIn(scratch.path()), std::vector<std::string>{"LATEST"});
  }
  PowerCutLayer layer(PowerCutLayer::OfThisBuild(), scratch.path());
  ASSERT_TRUE(ReplaceFileDurably(target, "after the cut\n", &error)) << error;
  layer.Cut();
  EXPECT_EQ(ReadFileBytes(target), "after the cut\n");
}

TEST(ReplaceFileDurably, AFailureLeavesTheOldFileAndSaysWhy) {
  ScratchDir scratch;
  std::string error;
  // A read-only file is refused as Windows refuses it.
  WriteFileBytes(scratch.Sub("protected"), "old\n");
  testing_support::SetReadOnly(scratch.Sub("protected"), true);
  EXPECT_FALSE(ReplaceFileDurably(scratch.Sub("protected"), "new\n", &error));
  EXPECT_NE(error.find("protected"), std::string::npos) << error;
  EXPECT_EQ(ReadFileBytes(scratch.Sub("protected")), "old\n");
  testing_support::SetReadOnly(scratch.Sub("protected"), false);
  // No folder to write the new file in.
  EXPECT_FALSE(ReplaceFileDurably(scratch.Sub("missing/LATEST"), "new\n", &error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
  EXPECT_EQ(NamesIn(scratch.path()), std::vector<std::string>{"protected"});
}

}  // namespace

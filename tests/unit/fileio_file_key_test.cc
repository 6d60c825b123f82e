#include "fileio/file_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "common.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

const char kZeroKey[] = "00000000000000000000000000000000";

std::string KeyOf(const std::string& path) {
  char key[kFileKeySize];
  std::memset(key, 'x', sizeof(key));
  GetFileKey(path.c_str(), key);
  return std::string(key, strnlen(key, sizeof(key)));
}

TEST(FileKey, KeysEqualTheStandardDigest) {
  ScratchDir scratch;
  std::string binary;
  for (int i = 0; i < 256 * 9; ++i) binary.push_back(static_cast<char>(i * 7));
  struct Case {
    std::string content;
    const char* key;  // md5sum of the same bytes
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(1024, 'a'), "c9a34cfc85d982698c6ac89f76071abd"},
      {std::string(200000, 'a'), "561b1994f6baacd6e5eaf4baaa12849f"},
      {binary, "b4c8d8394b3a35323f736132e1b7e635"},  // every byte value, 2304 bytes
  };
  for (const Case& c : cases) {
    std::string path = scratch.Sub("file.bin");
    WriteFileBytes(path, c.content);
    EXPECT_EQ(KeyOf(path), c.key) << c.content.size() << " bytes";
  }
}

TEST(FileKey, UnreadableFilesGetTheZeroKey) {
  ScratchDir scratch;
  EXPECT_EQ(KeyOf(scratch.Sub("missing")), kZeroKey);
  EXPECT_EQ(KeyOf(scratch.path()), kZeroKey);  // a directory
  char key[kFileKeySize] = "untouched";
  ComputeFileKey(scratch.Sub("x").c_str(), nullptr);  // no buffer: nothing to do
  ComputeFileKey(nullptr, key);
  EXPECT_STREQ(key, kZeroKey);
}

// Windows refuses a file that another process is writing; POSIX systems
// cannot tell and key what is there.
TEST(FileKey, AFileBeingWrittenGetsTheZeroKeyOnWindows) {
  if (plat::kPathSeparator != '\\') GTEST_SKIP() << "no share modes on this system";
  ScratchDir scratch;
  std::string path = scratch.Sub("busy.log");
  std::ofstream writer(path, std::ios::binary);
  writer << "being written";
  writer.flush();
  EXPECT_EQ(KeyOf(path), kZeroKey);
}

TEST(FileKey, PrintsOneLinePerFile) {
  ScratchDir scratch;
  std::string file = scratch.Sub("a.dll");
  WriteFileBytes(file, "abc");
  std::string missing = scratch.Sub("gone.dll");
  testing::internal::CaptureStdout();
  std::string first = KeyOf(file);
  std::string second = KeyOf(missing);
  std::string output = testing::internal::GetCapturedStdout();
  output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
  EXPECT_EQ(output, "MD5 (" + file + ") = 900150983cd24fb0d6963f7d28e17f72\n" + missing +
                        " can't be opened\n");
  EXPECT_EQ(first, "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(second, kZeroKey);
}

}  // namespace

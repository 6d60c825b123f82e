#include "fileio/file_key.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common.h"
#include "platform/platform.h"
#include "support/json_oracle.h"
#include "support/release_oracles.h"
#include "support/test_support.h"

namespace {

using testing_support::CanRunPython;
using testing_support::CheckJson;
using testing_support::KeysOfBytes;
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
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
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

// Bytes without a short period, so that a piece hashed twice, skipped or
// out of order changes the key.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>(static_cast<uint32_t>(i * 2654435761u) >> 24);
  }
  return bytes;
}

// A file is keyed a read at a time, its blocks hashed where the read put
// them: the lengths around the end of a read and a file of many reads, keyed
// by md5sum and by python's hashlib from the same files.
TEST(FileKey, KeysAtTheEdgesOfReadsEqualMd5sumAndHashlib) {
  const size_t kRead = kFileKeyReadSize;
  struct Case {
    const char* name;
    size_t size;
  };
  const Case cases[] = {
      {"one read but a byte", kRead - 1},
      {"one whole read", kRead},
      {"one read and a byte", kRead + 1},
      {"two reads and a block without room for the length", 2 * kRead + 56},
      {"a large file of many reads", 9 * (1 << 20) + 7},
  };
  ScratchDir scratch;
  std::vector<std::string> contents, paths, keys;
  for (const Case& c : cases) {
    contents.push_back(Pattern(c.size));
    paths.push_back(scratch.Sub("file" + std::to_string(paths.size()) + ".bin"));
    WriteFileBytes(paths.back(), contents.back());
    keys.push_back(KeyOf(paths.back()));
  }
  std::vector<std::string> md5sum = KeysOfBytes(contents);
  std::string document = "{\"keys\": [";
  for (size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(keys[i], md5sum[i]) << cases[i].name << ", " << cases[i].size << " bytes";
    document += (i > 0 ? ", \"" : "\"") + keys[i] + "\"";
  }
  document += "]}";
  if (!CanRunPython()) GTEST_SKIP() << "python3 cannot be started here";
  EXPECT_EQ(CheckJson(document,
                      "assert d['keys'] == [hashlib.md5(open(p, 'rb').read()).hexdigest() "
                      "for p in sys.argv[2:]]",
                      paths),
            "");
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

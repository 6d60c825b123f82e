// The patch index reader: what it takes is exactly what the writer gives,
// and each damage a client must not act on is refused with its line.
#include <gtest/gtest.h>

#include <string>

#include "protocol/patch_index.h"

namespace {

const std::string kDigest(64, 'a');
const std::string kKey(32, 'b');

std::string Line(const std::string& key, const std::string& patch_path, const std::string& path) {
  return "patch " + key + " " + kDigest + " 1000 " + kDigest + " 20 " + patch_path + " " + path +
         "\n";
}

const std::string kHead = "filedist-patches 1\nmanifest " + kDigest + " 500\n";
const std::string kSound = kHead + Line(kKey, ".\\Patches\\x-y", ".\\a dir\\b c.bin") +
                           Line(std::string(32, 'c'), ".\\Patches\\z-y", ".\\a dir\\b c.bin") +
                           "end 2\n";

TEST(PatchIndex, ReadsWhatItWritesAndNothingElse) {
  PatchIndex index;
  std::string error;
  ASSERT_TRUE(ParsePatchIndex(kSound, &index, &error)) << error;
  ASSERT_EQ(index.patches.size(), 2u);
  EXPECT_EQ(index.patches[0].resultPath, ".\\a dir\\b c.bin");
  EXPECT_EQ(index.patches[0].patchSize, 20u);
  EXPECT_EQ(index.patches[1].oldKey, std::string(32, 'c'));
  EXPECT_EQ(FormatPatchIndex(index), kSound);

  const struct {
    const char* fault;
    std::string text;
  } refused[] = {
      {"another version", "filedist-patches 2\n" + kSound.substr(kSound.find('\n') + 1)},
      {"no manifest line", "filedist-patches 1\n" + Line(kKey, ".\\P\\x", ".\\b") + "end 1\n"},
      {"a path out of the folder", kHead + Line(kKey, ".\\P\\x", ".\\..\\b") + "end 1\n"},
      {"a patch path out of the folder", kHead + Line(kKey, ".\\..\\x", ".\\b") + "end 1\n"},
      {"an absolute path", kHead + Line(kKey, ".\\P\\x", "/etc/passwd") + "end 1\n"},
      {"a key too short", kHead + Line(std::string(31, 'b'), ".\\P\\x", ".\\b") + "end 1\n"},
      {"a pair twice",
       kHead + Line(kKey, ".\\P\\x", ".\\b") + Line(kKey, ".\\P\\x", ".\\b") + "end 2\n"},
      {"out of order",
       kHead + Line(kKey, ".\\P\\x", ".\\c") + Line(kKey, ".\\P\\x", ".\\b") + "end 2\n"},
      {"a wrong count", kHead + Line(kKey, ".\\P\\x", ".\\b") + "end 2\n"},
      {"text after the end", kSound + "patch\n"},
      {"no end", kHead + Line(kKey, ".\\P\\x", ".\\b")},
      {"a carriage return", kHead + "end 0\r\n"},
      {"a size with a sign",
       kHead + "patch " + kKey + " " + kDigest + " -1 " + kDigest + " 20 .\\P\\x .\\b\nend 1\n"},
  };
  for (const auto& item : refused) {
    std::string why;
    EXPECT_FALSE(ParsePatchIndex(item.text, &index, &why)) << item.fault;
    EXPECT_FALSE(why.empty()) << item.fault;
  }
}

}  // namespace

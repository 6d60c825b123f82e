#include "support/release_oracles.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "support/test_server.h"
#include "support/test_support.h"

namespace testing_support {

bool GunzipBytes(const std::string& gzip, std::string* plain) {
  z_stream stream = {};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
  stream.avail_in = static_cast<uInt>(gzip.size());
  plain->clear();
  char out[16384];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(out);
    stream.avail_out = sizeof(out);
    result = inflate(&stream, Z_NO_FLUSH);
    plain->append(out, sizeof(out) - stream.avail_out);
  }
  bool whole = result == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  return whole;
}

std::string GunzipFile(const std::string& path) {
  std::string plain;
  EXPECT_TRUE(GunzipBytes(ReadFileBytes(path), &plain)) << path << " is not one whole gzip member";
  return plain;
}

std::vector<std::string> KeysOfBytes(const std::vector<std::string>& contents) {
  // Byte strings already keyed in this program are not handed out again:
  // many tests key the same few contents.
  static std::mutex mutex;
  static std::map<std::string, std::string> known;
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<std::string> unknown;
  for (const std::string& bytes : contents) {
    if (known.count(bytes) == 0 &&
        std::find(unknown.begin(), unknown.end(), bytes) == unknown.end()) {
      unknown.push_back(bytes);
    }
  }
  if (!unknown.empty()) {
    ScratchDir scratch;
    std::string files;
    for (size_t i = 0; i < unknown.size(); ++i) {
      WriteFileBytes(scratch.Sub(std::to_string(i)), unknown[i]);
      files += " " + std::to_string(i);
    }
    // A Windows program under Wine cannot wait for a Unix program, so md5sum
    // writes its answer whole, by rename, and the test polls for it.
    std::string unix_dir = UnixPathOf(scratch.path());
    std::string command = "cd '" + unix_dir + "' && md5sum" + files +
                          " > keys.tmp && mv keys.tmp keys || touch failed";
    std::string keys = scratch.Sub("keys");
    bool started = !unix_dir.empty() && StartUnixProgram({"/bin/sh", "-c", command});
    for (int wait = 0; started && wait < 3000 && !FileExists(keys); ++wait) {
      if (FileExists(scratch.Sub("failed"))) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!FileExists(keys)) {
      ADD_FAILURE() << "md5sum could not key the test's bytes";
      return std::vector<std::string>(contents.size());
    }
    // "<32 hex digits> <space or *><file name>" per file, in the order given.
    std::vector<std::string> lines = SplitLines(ReadFileBytes(keys));
    EXPECT_EQ(lines.size(), unknown.size());
    for (size_t i = 0; i < unknown.size() && i < lines.size(); ++i) {
      known[unknown[i]] = lines[i].substr(0, 32);
    }
  }
  std::vector<std::string> result;
  for (const std::string& bytes : contents) result.push_back(known[bytes]);
  return result;
}

std::string KeyOfBytes(const std::string& bytes) { return KeysOfBytes({bytes})[0]; }

std::string Sha256OfBytes(const std::string& bytes) {
  ScratchDir scratch;
  WriteFileBytes(scratch.Sub("0"), bytes);
  // Started and waited for as md5sum is above.
  std::string unix_dir = UnixPathOf(scratch.path());
  std::string command =
      "cd '" + unix_dir + "' && sha256sum 0 > digest.tmp && mv digest.tmp digest || touch failed";
  std::string digest = scratch.Sub("digest");
  bool started = !unix_dir.empty() && StartUnixProgram({"/bin/sh", "-c", command});
  for (int wait = 0; started && wait < 3000 && !FileExists(digest); ++wait) {
    if (FileExists(scratch.Sub("failed"))) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!FileExists(digest)) {
    ADD_FAILURE() << "sha256sum could not digest the test's bytes";
    return std::string();
  }
  return ReadFileBytes(digest).substr(0, 64);
}

}  // namespace testing_support

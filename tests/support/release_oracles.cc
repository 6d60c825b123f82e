#include "support/release_oracles.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "fileio/md5.h"
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

std::string KeyOfBytes(const std::string& bytes) {
  Md5State state;
  Md5Init(&state);
  Md5Update(&state, bytes.data(), bytes.size());
  unsigned char digest[16];
  Md5Final(&state, digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string key;
  for (unsigned char byte : digest) {
    key.push_back(kDigits[byte >> 4]);
    key.push_back(kDigits[byte & 15]);
  }
  return key;
}

}  // namespace testing_support

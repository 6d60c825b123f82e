#include "fileio/md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Hex(const unsigned char digest[16]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 16; ++i) {
    hex.push_back(kDigits[digest[i] >> 4]);
    hex.push_back(kDigits[digest[i] & 15]);
  }
  return hex;
}

std::string DigestOf(const std::string& message, size_t piece) {
  Md5State state;
  Md5Init(&state);
  for (size_t at = 0; at < message.size(); at += piece) {
    Md5Update(&state, message.data() + at, std::min(piece, message.size() - at));
  }
  unsigned char digest[16];
  Md5Final(&state, digest);
  return Hex(digest);
}

// The test suite of RFC 1321, appendix A.5.
TEST(Md5, Rfc1321Suite) {
  struct Case {
    const char* message;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const Case& c : cases) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{64}, size_t{1000}}) {
      EXPECT_EQ(DigestOf(c.message, piece), c.digest) << c.message << " in pieces of " << piece;
    }
  }
}

// The pad is 1 to 64 bytes: lengths around 56 and 64 take each path.
TEST(Md5, PaddingBoundaries) {
  struct Case {
    size_t length;
    const char* digest;  // of that many 'a' bytes (md5sum)
  };
  const Case cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"}, {1024, "c9a34cfc85d982698c6ac89f76071abd"},
  };
  for (const Case& c : cases) {
    std::string message(c.length, 'a');
    EXPECT_EQ(DigestOf(message, message.size() + 1), c.digest) << c.length;
    EXPECT_EQ(DigestOf(message, 13), c.digest) << c.length;
  }
}

// Past 512 MiB the count of bits hashed no longer fits 32 bits: the pad's
// length field must carry into its high word. The same mebibyte is hashed
// 512 times, then 3 bytes more, as a large file is hashed a read at a time.
TEST(Md5, LengthFieldPastFourGibibits) {
  std::string mebibyte(1 << 20, '\0');
  for (size_t i = 0; i < mebibyte.size(); ++i) {
    mebibyte[i] = static_cast<char>(static_cast<uint32_t>(i * 2654435761u) >> 24);
  }
  Md5State state;
  Md5Init(&state);
  for (int i = 0; i < 512; ++i) Md5Update(&state, mebibyte.data(), mebibyte.size());
  Md5Update(&state, mebibyte.data(), 3);
  unsigned char digest[16];
  Md5Final(&state, digest);
  // python's hashlib and md5sum of the same 536,870,915 bytes
  EXPECT_EQ(Hex(digest), "46e333f6a5cfa439ea3b4102ef6af0f9");
}

TEST(Md5, FinalWipesTheState) {
  Md5State state;
  Md5Init(&state);
  Md5Update(&state, "secret", 6);
  unsigned char digest[16];
  Md5Final(&state, digest);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&state);
  for (size_t i = 0; i < sizeof(state); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

}  // namespace

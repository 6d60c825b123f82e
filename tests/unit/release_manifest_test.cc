#include "protocol/release_manifest.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "signing/ed25519.h"
#include "signing/ed25519_curve.h"
#include "signing/hex_text.h"
#include "signing/key_files.h"
#include "protocol/manifest_text.h"
#include "signing/sha256.h"
#include "support/json_oracle.h"
#include "support/test_support.h"

namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string Valid() {
  return "filedist-manifest 1\n"
         "sequence 12\n"
         "built 2026-12-07T10:11:12Z\n"
         "vercomp " +
         kDigestA +
         " 325\n"
         "ver " +
         kDigestB +
         " 54\n"
         "file " +
         kDigestA +
         " 4096 3147 x .\\bin\\app bin\n"
         "file " +
         kDigestB +
         " 0 20 - .\\config\\empty.cfg\n"
         "end 2\n";
}

// Valid() with its first occurrence of from replaced by to.
std::string Changed(const std::string& from, const std::string& to) {
  std::string text = Valid();
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return text.replace(at, from.size(), to);
}

TEST(ReleaseManifest, AWellFormedManifestReadsFieldByFieldAndWritesBackAlike) {
  ReleaseManifest manifest;
  std::string error;
  ASSERT_TRUE(ParseManifest(Valid(), &manifest, &error)) << error;
  EXPECT_EQ(manifest.sequence, 12u);
  EXPECT_EQ(manifest.built, "2026-12-07T10:11:12Z");
  EXPECT_EQ(manifest.verCompSha256, kDigestA);
  EXPECT_EQ(manifest.verCompSize, 325u);
  EXPECT_EQ(manifest.verSha256, kDigestB);
  EXPECT_EQ(manifest.verSize, 54u);
  ASSERT_EQ(manifest.files.size(), 2u);
  EXPECT_EQ(manifest.files[0].path, ".\\bin\\app bin");  // a space belongs to the path
  EXPECT_EQ(manifest.files[0].size, 4096u);
  EXPECT_EQ(manifest.files[0].gzipSize, 3147u);
  EXPECT_TRUE(manifest.files[0].executable);
  EXPECT_FALSE(manifest.files[1].executable);
  EXPECT_EQ(FormatManifest(manifest), Valid());

  uint64_t sequence = 0;
  EXPECT_TRUE(ParseManifestSequence(Valid().substr(0, 40), &sequence));
  EXPECT_EQ(sequence, 12u);
}

TEST(ReleaseManifest, EveryMalformedManifestIsRefused) {
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"another format", Changed("filedist-manifest 1", "filedist-manifest 2")},
      {"carriage returns", Changed("sequence 12\n", "sequence 12\r\n")},
      {"sequence zero", Changed("sequence 12", "sequence 0")},
      {"sequence with a leading zero", Changed("sequence 12", "sequence 012")},
      {"sequence with a sign", Changed("sequence 12", "sequence +12")},
      {"sequence past 63 bits", Changed("sequence 12", "sequence 9223372036854775808")},
      {"sequence past 64 bits", Changed("sequence 12", "sequence 99999999999999999999")},
      {"time not in UTC", Changed("10:11:12Z", "10:11:12+01")},
      {"digest in upper case", Changed("vercomp " + kDigestA, "vercomp " + std::string(64, 'A'))},
      {"digest too short", Changed("ver " + kDigestB, "ver " + kDigestB.substr(1))},
      {"size missing", Changed(" 54\n", "\n")},
      {"lines out of order", Changed("vercomp", "ver")},
      {"mode neither x nor -", Changed(" x .\\", " X .\\")},
      {"path outside the release", Changed(".\\bin\\app bin", ".\\..\\evil")},
      {"absolute path", Changed(".\\bin\\app bin", "C:\\evil")},
      {"empty path component", Changed(".\\bin\\app bin", ".\\bin\\\\app")},
      {"slash in a path", Changed(".\\bin\\app bin", ".\\bin/../../evil")},
      {"path twice", Changed(".\\config\\empty.cfg", ".\\bin\\app bin")},
      {"count too low", Changed("end 2", "end 1")},
      {"no end line", Valid().substr(0, Valid().find("end 2"))},
      {"end without its line end", Valid().substr(0, Valid().size() - 1)},
      {"text after the end", Valid() + "file " + kDigestA + " 1 1 - .\\late\n"},
      {"NUL in a path", Changed("empty.cfg", std::string("empty\0cfg", 9))},
      {"line too long", Changed(".\\config\\empty.cfg", ".\\" + std::string(3000, 'p'))},
  };
  for (const auto& c : cases) {
    ReleaseManifest manifest;
    std::string error;
    EXPECT_FALSE(ParseManifest(c.text, &manifest, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

// Sizes and counts are whole numbers from 0 to 2^63 - 1 written without
// leading zeros: what every manifest already signed is read with.
TEST(ReleaseManifest, NumbersKeepTheirBounds) {
  const std::string kLargest = "9223372036854775807";
  const struct {
    const char* from;
    std::string to;
    bool read;
  } cases[] = {
      {" 325\n", " 0\n", true},
      {" 325\n", " " + kLargest + "\n", true},
      {" 325\n", " 9223372036854775808\n", false},
      {" 325\n", " 0325\n", false},
      {" 325\n", " 00\n", false},
      {"sequence 12", "sequence " + kLargest, true},
      {" 4096 3147 ", " 0 0 ", true},
      {" 4096 3147 ", " 4096 +3147 ", false},
      {"end 2", "end 02", false},
  };
  for (const auto& c : cases) {
    ReleaseManifest manifest;
    std::string error;
    EXPECT_EQ(ParseManifest(Changed(c.from, c.to), &manifest, &error), c.read) << c.to << error;
  }
}

// The times a Manifest and a channel pointer carry, on both targets alike:
// past 2038 too, where a 32-bit time would wrap (a pointer's expiry).
TEST(ReleaseManifest, UtcTimesAreWrittenInTheFormTheyAreReadIn) {
  const struct {
    int64_t seconds;
    const char* text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},          {951782400, "2000-02-29T00:00:00Z"},
      {2147483648, "2038-01-19T03:14:08Z"}, {4102444799, "2099-12-31T23:59:59Z"},
      {4107542400, "2100-03-01T00:00:00Z"}, {253402300799, "9999-12-31T23:59:59Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(manifest_text::UtcTimeText(c.seconds), c.text);
    EXPECT_TRUE(manifest_text::IsUtcTime(manifest_text::UtcTimeText(c.seconds))) << c.text;
  }
  EXPECT_TRUE(manifest_text::IsUtcTime(CurrentUtcTime()));
  // Every day up to 2038, where the C library's gmtime works on both.
  for (int64_t seconds = 0; seconds < 2147483647; seconds += 86400 + 3607) {
    std::time_t when = static_cast<std::time_t>(seconds);
    char expected[32];
    std::strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&when));
    ASSERT_EQ(manifest_text::UtcTimeText(seconds), expected);
  }
}

// Published vectors: SHA-256 of "abc" (FIPS 180-4) and Ed25519 test 1 and
// test 2 of RFC 8032.
TEST(ReleaseSigning, DigestsAndSignaturesMatchThePublishedVectors) {
  Sha256 digest;
  digest.Update("abc", 3);
  unsigned char bytes[kSha256Size];
  digest.Final(bytes);
  EXPECT_EQ(Sha256Hex(bytes), kDigestB);

  const struct {
    const char* secret;
    const char* public_key;
    std::string message;
    const char* signature;
  } vectors[] = {
      {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
       "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
       "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e06522490155"
       "5fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
      {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
       "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "\x72",
       "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da"
       "085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
  };
  for (const auto& v : vectors) {
    Ed25519PrivateKey secret;
    Ed25519PublicKey public_key;
    Ed25519Signature expected;
    ASSERT_TRUE(ParseHexText(v.secret, secret.data(), secret.size()));
    ASSERT_TRUE(ParseHexText(v.public_key, public_key.data(), public_key.size()));
    ASSERT_TRUE(ParseHexText(v.signature, expected.data(), expected.size()));
    Ed25519Signature signature;
    ASSERT_TRUE(SignEd25519(secret, v.message, &signature));
    EXPECT_EQ(HexText(signature.data(), signature.size()), v.signature);
    EXPECT_TRUE(VerifyEd25519(public_key, v.message, expected));
    // The path for messages libgcrypt cannot take gives the same signatures.
    ASSERT_TRUE(SignEd25519OnCurve(secret, v.message, &signature));
    EXPECT_EQ(HexText(signature.data(), signature.size()), v.signature);
    EXPECT_TRUE(VerifyEd25519OnCurve(public_key, v.message, expected));
    EXPECT_FALSE(VerifyEd25519OnCurve(public_key, v.message + "x", expected));
    EXPECT_FALSE(VerifyEd25519(public_key, v.message + "x", expected));
    Ed25519Signature flipped = expected;
    flipped[5] ^= 1;
    EXPECT_FALSE(VerifyEd25519(public_key, v.message, flipped));
  }
}

// A Manifest passes 64 KiB at about 630 files; libgcrypt's own signing
// aborted the process from there. Every size is signed as RFC 8032 says,
// checked against python's cryptography (Ed25519 signatures are
// deterministic, so the bytes must agree), and a wrong signature of a large
// message is refused, not fatal.
TEST(ReleaseSigning, MessagesOfAnySizeAreSignedAsAnIndependentSignerSignsThem) {
  const size_t sizes[] = {kEd25519LibraryMessageLimit,
                          kEd25519LibraryMessageLimit + 1,
                          65535,
                          65536,
                          700 * 1024 + 3,
                          5 * 1024 * 1024};
  Ed25519PrivateKey secret;
  Ed25519PublicKey public_key;
  ASSERT_TRUE(GenerateEd25519KeyPair(&public_key, &secret));
  testing_support::ScratchDir scratch;
  std::vector<std::string> paths;
  std::string document =
      "{\"seed\": \"" + HexText(secret.data(), secret.size()) + "\", \"sigs\": [";
  for (size_t size : sizes) {
    std::string message(size, '\0');
    for (size_t i = 0; i < size; ++i) message[i] = static_cast<char>((i * 131 + size) & 0xff);
    Ed25519Signature signature;
    ASSERT_TRUE(SignEd25519(secret, message, &signature)) << size;
    EXPECT_TRUE(VerifyEd25519(public_key, message, signature)) << size;
    Ed25519Signature curve_signature;
    ASSERT_TRUE(SignEd25519OnCurve(secret, message, &curve_signature)) << size;
    EXPECT_EQ(curve_signature, signature) << size;
    std::string changed = message;
    changed.back() ^= 1;
    EXPECT_FALSE(VerifyEd25519(public_key, changed, signature)) << size;
    Ed25519Signature flipped = signature;
    flipped[40] ^= 0x10;
    EXPECT_FALSE(VerifyEd25519(public_key, message, flipped)) << size;
    paths.push_back(scratch.Sub("message" + std::to_string(paths.size())));
    testing_support::WriteFileBytes(paths.back(), message);
    document +=
        (paths.size() > 1 ? ", \"" : "\"") + HexText(signature.data(), signature.size()) + "\"";
  }
  document += "]}";
  if (!testing_support::CanRunPython()) GTEST_SKIP() << "python3 cannot be started here";
  EXPECT_EQ(testing_support::CheckJson(
                document,
                "from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey\n"
                "key = Ed25519PrivateKey.from_private_bytes(bytes.fromhex(d['seed']))\n"
                "assert d['sigs'] == [key.sign(open(p, 'rb').read()).hex() for p in sys.argv[2:]]",
                paths),
            "");
}

TEST(ReleaseSigning, KeyAndSignatureFilesReadOnlyTheirOwnLine) {
  const std::string hex32(64, '7');
  Ed25519PublicKey key;
  EXPECT_TRUE(ParsePublicKeyFile("ed25519-public " + hex32 + "\n", &key));
  EXPECT_TRUE(ParsePublicKeyFile("ed25519-public " + hex32 + "\r\n", &key));
  EXPECT_EQ(key[0], 0x77);
  const std::string refused[] = {
      "ed25519-public " + hex32,                    // no line end
      "ed25519-private " + hex32 + "\n",            // the other half of the pair
      "ed25519-public " + hex32.substr(2) + "\n",   // short
      "ed25519-public " + hex32 + "77\n",           // long
      "ed25519-public " + hex32 + "\n\n",           // a second line
      "ed25519-public  " + hex32.substr(1) + "\n",  // two spaces
  };
  for (const std::string& text : refused) EXPECT_FALSE(ParsePublicKeyFile(text, &key)) << text;
  Ed25519PrivateKey secret;
  EXPECT_FALSE(ParsePrivateKeyFile("ed25519-public " + hex32 + "\n", &secret));
  Ed25519Signature signature;
  EXPECT_TRUE(ParseSignatureFile("ed25519-signature " + hex32 + hex32 + "\n", &signature));
  EXPECT_FALSE(ParseSignatureFile("ed25519-signature " + hex32 + "\n", &signature));
}

}  // namespace

// ParseManifest, ParsePatchIndex, the channel pointer reader, and the key and
// signature file readers, on arbitrary text.
// A manifest the reader takes must be exactly the text the writer gives for
// what it read (one spelling per manifest, so a signature covers one
// meaning), keep every field within the bounds a client relies on, and
// agree with the sequence reader that numbers the next release.
#include <cstdint>
#include <set>
#include <string>

#include "fuzz/fuzz_support.h"
#include "protocol/channel_pointer.h"
#include "signing/key_files.h"
#include "protocol/patch_index.h"
#include "protocol/release_manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  Ed25519PublicKey public_key;
  if (ParsePublicKeyFile(text, &public_key)) FUZZ_CHECK(size <= 81);
  Ed25519Signature signature;
  if (ParseSignatureFile(text, &signature)) FUZZ_CHECK(size <= 148);

  // A channel pointer, like the Manifest, has one spelling per meaning.
  ChannelPointer pointer;
  std::string pointer_error;
  if (ParseChannelPointer(text, &pointer, &pointer_error)) {
    FUZZ_CHECK(FormatChannelPointer(pointer) == text);
    FUZZ_CHECK(IsChannelName(pointer.channel) && pointer.sequence >= 1);
    FUZZ_CHECK(pointer.rollout >= 0 && pointer.rollout <= 100);
  }

  // A patch index taken is the writer's text for it, with paths a client
  // may fetch and write.
  PatchIndex index;
  std::string index_error;
  if (ParsePatchIndex(text, &index, &index_error)) {
    FUZZ_CHECK(FormatPatchIndex(index) == text);
    for (const PatchEntry& entry : index.patches) {
      FUZZ_CHECK(entry.oldKey.size() == 32 && entry.patchSha256.size() == 64);
      for (const std::string* path : {&entry.patchPath, &entry.resultPath}) {
        FUZZ_CHECK(path->compare(0, 2, ".\\") == 0);
        FUZZ_CHECK(path->find("\\..\\") == std::string::npos);
        FUZZ_CHECK(path->find_first_of(std::string("\r\n,/\0", 5)) == std::string::npos);
      }
      FUZZ_CHECK(entry.patchPath.find(' ') == std::string::npos);
    }
  } else {
    FUZZ_CHECK(!index_error.empty());
  }

  ReleaseManifest manifest;
  std::string error;
  if (!ParseManifest(text, &manifest, &error)) {
    FUZZ_CHECK(!error.empty());
    return 0;
  }
  FUZZ_CHECK(FormatManifest(manifest) == text);
  FUZZ_CHECK(manifest.sequence >= 1 && manifest.sequence <= kManifestSequenceLimit);
  uint64_t sequence = 0;
  FUZZ_CHECK(ParseManifestSequence(text, &sequence) && sequence == manifest.sequence);
  FUZZ_CHECK(manifest.verCompSha256.size() == 64 && manifest.verSha256.size() == 64);
  std::set<std::string> paths;
  for (const ManifestFile& file : manifest.files) {
    FUZZ_CHECK(file.sha256.size() == 64);
    FUZZ_CHECK(file.path.size() >= 3 && file.path.size() <= 1023);
    FUZZ_CHECK(file.path.compare(0, 2, ".\\") == 0);
    FUZZ_CHECK(file.path.find("\\..\\") == std::string::npos);
    FUZZ_CHECK(file.path.find_first_of(std::string("\r\n,/\0", 5)) == std::string::npos);
    FUZZ_CHECK(paths.insert(file.path).second);
  }
  return 0;
}

// Staged rollout: a channel pointer may offer its release to a share of
// installs only (protocol/channel_pointer.h, "rollout P"). Each install keeps
// a random identifier in .filedist-id, made once from libgcrypt's strong
// generator (32 lowercase hexadecimal digits and LF), and is inside for a
// release when its bucket, the first eight bytes of SHA-256(id LF patch)
// read big-endian, modulo 10000, is below P * 100. The bucket stays the
// same for an install and a release, so raising P never takes an install
// out; hashing the patch name in gives each release other first installs.
#ifndef FILEDIST_UPDATE_ROLLOUT_H
#define FILEDIST_UPDATE_ROLLOUT_H

#include <cstdint>
#include <string>

namespace update {

// The install's identifier, made (durably, and never replacing one another
// run made meanwhile) when there is none. Read without following a link.
// False, with *error set. Its writer is its own, not ReplaceFileDurably:
// the identifier is written once and put in place only where no file is
// (RenameNoReplace), so that two runs at once agree on the first one's,
// where a replacement would let the second overwrite it.
bool LoadInstallId(const std::string& installDir, std::string* id, std::string* error);

// From 0 to 9999.
uint32_t RolloutBucket(const std::string& id, const std::string& patch);

bool InRollout(const std::string& id, const std::string& patch, int percent);

}  // namespace update

#endif  // FILEDIST_UPDATE_ROLLOUT_H

#include "release/channel_pointer.h"

#include <cstdio>

#include "fileio/replacement_file.h"
#include "platform/file_lock.h"
#include "platform/platform.h"
#include "release/release_preflight.h"
#include "release/release_pointer.h"
#include "signing/bounded_file.h"
#include "signing/release_manifest.h"

namespace {

bool WriteReplacing(const std::string& target, const std::string& text, std::string* error) {
  ReplacementFile file;
  if (!file.Create(target.c_str())) {
    *error = "cannot write beside '" + target + "'";
    return false;
  }
  bool written = std::fwrite(text.data(), 1, text.size(), file.file()) == text.size();
  if (!file.Commit() || !written) {
    *error = "cannot write '" + target + "'";
    return false;
  }
  return true;
}

// The channel's pointer as it stands; false with *error for a damaged one.
bool ReadPointer(const std::string& path, bool* present, ChannelPointer* pointer,
                 std::string* error) {
  *present = plat::PathExists(path.c_str());
  if (!*present) return true;
  std::string text;
  std::string why;
  if (!ReadBoundedFile(path.c_str(), kChannelPointerSizeLimit, &text) ||
      !ParseChannelPointer(text, pointer, &why)) {
    *error = "'" + path + "' is not a channel pointer";
    return false;
  }
  return true;
}

}  // namespace

bool PublishChannel(const std::string& releaseDir, const std::string& channel,
                    const std::string& patchName, int rollout, int expiresDays,
                    const PointerSigner& signer, ChannelPointer* published, std::string* error) {
  if (!IsChannelName(channel)) {
    *error = "'" + channel + "' is not a channel name (letters, digits, '-' and '_')";
    return false;
  }
  plat::FileLock lock;
  if (!LockReleaseFolder(&lock, releaseDir, error)) return false;
  const std::string patch_dir = plat::ChildPath(releaseDir, patchName);
  std::string head;
  uint64_t release = 0;
  if (!ReadBoundedFile(plat::ChildPath(patch_dir, kManifestName).c_str(), kManifestSizeLimit,
                       &head) ||
      !ParseManifestSequence(head, &release) || release == 0) {
    *error = "'" + patch_dir + "' holds no release with a Manifest";
    return false;
  }
  if (signer && !plat::PathExists(plat::ChildPath(patch_dir, kManifestSignatureName).c_str())) {
    *error = "the release '" + patch_dir + "' is not signed; a signed channel cannot offer it";
    return false;
  }
  const std::string pointer_path = plat::ChildPath(releaseDir, ChannelPointerFileName(channel));
  const std::string signature_path = plat::ChildPath(releaseDir, ChannelSignatureFileName(channel));
  bool present = false;
  ChannelPointer current;
  if (!ReadPointer(pointer_path, &present, &current, error)) return false;
  ChannelPointer next;
  next.channel = channel;
  next.sequence = present ? current.sequence + 1 : 1;
  next.patch = patchName;
  next.release = release;
  next.rollout = rollout < 0 ? 0 : rollout > 100 ? 100 : rollout;
  if (expiresDays >= 0) next.expires = UtcTimeAfterDays(expiresDays);
  const std::string text = FormatChannelPointer(next);
  if (signer) {
    std::string signature;
    if (!signer(text, &signature)) {
      *error = "the channel pointer could not be signed";
      return false;
    }
    if (!WriteReplacing(signature_path, signature, error)) return false;
  } else if (plat::PathExists(signature_path.c_str()) &&
             !plat::RemoveFile(signature_path.c_str())) {
    *error = "cannot remove the earlier signature '" + signature_path + "'";
    return false;
  }
  if (!WriteReplacing(pointer_path, text, error)) return false;
  // Clients that follow LATEST cannot take part in a rollout: LATEST moves
  // once the release is offered to every install.
  if (channel == kDefaultChannel && next.rollout == 100 &&
      !WriteReplacing(plat::ChildPath(releaseDir, kLatestName), patchName + "\n", error)) {
    return false;
  }
  *published = next;
  return true;
}

bool ReadChannelPointers(const std::string& releaseDir, std::vector<ChannelPointer>* pointers,
                         std::string* error) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(releaseDir, &entries)) {
    *error = "cannot list '" + releaseDir + "'";
    return false;
  }
  const std::string prefix = "channel.";
  pointers->clear();
  for (const plat::DirEntry& entry : entries) {
    const std::string& name = entry.name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".sig") == 0) continue;
    if (!IsChannelName(name.substr(prefix.size()))) continue;
    bool present = false;
    ChannelPointer pointer;
    if (!ReadPointer(plat::ChildPath(releaseDir, name), &present, &pointer, error)) return false;
    if (present) pointers->push_back(pointer);
  }
  return true;
}

#include "release/channel_publish.h"

#include <cstdio>

#include "fileio/replacement_file.h"
#include "platform/file_lock.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "release/release_preflight.h"
#include "release/release_publish.h"
#include "platform/bounded_file.h"
#include "protocol/release_manifest.h"

namespace {

// Where a publishing puts the new pair before it replaces the old one: the
// signature (empty: the channel is no longer signed) and the pointer.
const char kPendingSuffix[] = ".next";

std::string PendingPointerName(const std::string& channel) {
  return ChannelPointerFileName(channel) + kPendingSuffix;
}

std::string PendingSignatureName(const std::string& channel) {
  return ChannelSignatureFileName(channel) + kPendingSuffix;
}

// Puts the pending pair of channel in place, when there is one: LATEST first
// (for the default channel offered to all), then the signature and the
// pointer one right after the other, so that the time a reader can find
// them apart is that of two renames. Every step may be repeated: a run
// stopped anywhere is finished by the next. Without a pending pointer the
// publishing was not decided, and a pending signature alone goes.
bool CompletePublishing(const std::string& releaseDir, const std::string& channel,
                        std::string* error) {
  const std::string pointer_path = plat::ChildPath(releaseDir, ChannelPointerFileName(channel));
  const std::string signature_path = plat::ChildPath(releaseDir, ChannelSignatureFileName(channel));
  const std::string pending_pointer = pointer_path + kPendingSuffix;
  const std::string pending_signature = signature_path + kPendingSuffix;
  if (!plat::PathExists(pending_pointer.c_str())) {
    if (plat::PathExists(pending_signature.c_str())) plat::RemoveFile(pending_signature.c_str());
    return true;
  }
  std::string text;
  std::string why;
  ChannelPointer next;
  if (!plat::ReadBoundedFile(pending_pointer.c_str(), kChannelPointerSizeLimit, &text) ||
      !ParseChannelPointer(text, &next, &why) || next.channel != channel) {
    *error = "'" + pending_pointer + "' is not a channel pointer; the channel '" + channel +
             "' cannot be published until it is removed";
    return false;
  }
  // Clients that follow LATEST cannot take part in a rollout: LATEST moves
  // once the release is offered to every install.
  if (channel == kDefaultChannel && next.rollout == 100 &&
      !ReplaceFileDurably(plat::ChildPath(releaseDir, kLatestName), next.patch + "\n", error)) {
    return false;
  }
  if (plat::PathExists(pending_signature.c_str())) {
    std::string signature;
    if (!plat::ReadBoundedFile(pending_signature.c_str(), kChannelPointerSizeLimit, &signature)) {
      *error = "cannot read '" + pending_signature + "': " + plat::LastErrorText();
      return false;
    }
    bool placed =
        signature.empty()
            ? !plat::PathExists(signature_path.c_str()) || plat::RemoveFile(signature_path.c_str())
            : plat::ReplaceFileAtomically(pending_signature.c_str(), signature_path.c_str());
    if (!placed) {
      *error = "cannot replace '" + signature_path + "': " + plat::LastErrorText();
      return false;
    }
    if (signature.empty()) plat::RemoveFile(pending_signature.c_str());
  }
  if (!plat::ReplaceFileAtomically(pending_pointer.c_str(), pointer_path.c_str())) {
    *error = "cannot replace '" + pointer_path + "': " + plat::LastErrorText();
    return false;
  }
  plat::SyncDirectory(releaseDir);
  return true;
}

// The channel's pointer as it stands; false with *error for a damaged one.
bool ReadPointer(const std::string& path, bool* present, ChannelPointer* pointer,
                 std::string* error) {
  *present = plat::PathExists(path.c_str());
  if (!*present) return true;
  std::string text;
  std::string why;
  if (!plat::ReadBoundedFile(path.c_str(), kChannelPointerSizeLimit, &text) ||
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
  // The channel's pointer and number as a stopped run decided them.
  if (!CompletePublishing(releaseDir, channel, error)) return false;
  const std::string patch_dir = plat::ChildPath(releaseDir, patchName);
  std::string head;
  uint64_t release = 0;
  if (!plat::ReadBoundedFile(plat::ChildPath(patch_dir, kManifestName).c_str(), kManifestSizeLimit,
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
  std::string signature;
  if (signer && !signer(text, &signature)) {
    *error = "the channel pointer could not be signed";
    return false;
  }
  // The pair is first written whole under names no client reads; the
  // pointer's is the record that the publishing is decided, which a
  // stopped run leaves for the next one to carry out.
  const std::string pending_pointer = plat::ChildPath(releaseDir, PendingPointerName(channel));
  if (!ReplaceFileDurably(plat::ChildPath(releaseDir, PendingSignatureName(channel)), signature,
                          error) ||
      !ReplaceFileDurably(pending_pointer, text, error) ||
      !CompletePublishing(releaseDir, channel, error)) {
    return false;
  }
  *published = next;
  return true;
}

bool CompleteChannelPublishing(const std::string& releaseDir, std::string* error) {
  std::vector<plat::DirEntry> entries;
  if (!plat::ListDirectory(releaseDir, &entries)) {
    *error = "cannot list '" + releaseDir + "'";
    return false;
  }
  for (const plat::DirEntry& entry : entries) {
    const std::string& name = entry.name;
    const std::string prefix = "channel.";
    const std::string suffix = std::string(kPendingSuffix);
    if (name.size() <= prefix.size() + suffix.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    std::string channel = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    // A signature left alone: its publishing was never decided.
    const std::string signature = ".sig";
    if (channel.size() > signature.size() &&
        channel.compare(channel.size() - signature.size(), signature.size(), signature) == 0) {
      channel.resize(channel.size() - signature.size());
    }
    if (IsChannelName(channel) && !CompletePublishing(releaseDir, channel, error)) return false;
  }
  return true;
}

bool IsPendingChannelFileName(const std::string& name) {
  const size_t suffix = sizeof(kPendingSuffix) - 1;
  return name.size() > suffix && name.compare(name.size() - suffix, suffix, kPendingSuffix) == 0 &&
         IsChannelPointerFileName(name.substr(0, name.size() - suffix));
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

#include "updater/channel_follow.h"

#include <utility>

#include "platform/system_error.h"
#include "protocol/channel_pointer.h"
#include "protocol/latest_pointer.h"
#include "protocol/release_manifest.h"
#include "update/channel_choice.h"
#include "update/install_status.h"
#include "update/rollout.h"

namespace updater {

namespace {

bool Fail(ChannelFollow* follow, update::UpdateFailure failure) {
  follow->failure = failure;
  return false;
}

// A publisher replaces a pointer and its signature one right after the
// other, so a reader can take one of each. The pair is read as many times.
constexpr int kPairReads = 4;
// Before a refused pair is read again: longer than a publisher takes
// between its two renames.
constexpr int kPairSettleMilliseconds = 100;

// Reads channel's pointer (false when there is none) and its signature, and
// the pointer again after the signature: a pointer that changed meanwhile
// was replaced while the pair was read, which is then read again.
bool ReadPointerPair(const ReleaseSource& source, const std::string& channel,
                     update::ChannelInput* input) {
  const std::string pointer_name = ChannelPointerFileName(channel);
  for (int read = 1;; ++read) {
    if (!source.ReadTopFile(pointer_name, kChannelPointerSizeLimit, &input->text)) return false;
    input->has_signature =
        source.ReadTopFile(ChannelSignatureFileName(channel), 4096, &input->signature);
    std::string again;
    if (!source.ReadTopFile(pointer_name, kChannelPointerSizeLimit, &again)) return false;
    // The last pair read stands when the pointer never held still: a mixed
    // pair is refused by its signature check.
    if (again == input->text || read == kPairReads) return true;
  }
}

// Chooses from the pair read. A pair refused is read again once it has
// had time to settle: one read while a publisher was between its two
// renames is refused only if it stays as it was.
bool ChooseFromPair(const ReleaseSource& source, update::ChannelInput* input,
                    update::ChannelChoice* choice, std::string* error) {
  for (int read = 1;; ++read) {
    if (update::ChooseFromChannel(*input, choice, error)) return true;
    if (read == kPairReads) return false;
    plat::PauseMilliseconds(kPairSettleMilliseconds);
    update::ChannelInput again = *input;
    if (!ReadPointerPair(source, input->channel, &again) ||
        (again.text == input->text && again.has_signature == input->has_signature &&
         again.signature == input->signature)) {
      return false;
    }
    *input = std::move(again);
  }
}

// The source answers that it holds nothing of a releases folder or a
// release: neither LATEST nor a release's version list or Manifest.
bool NothingThere(const ReleaseSource& source) {
  return source.IsMissing({kLatestName}) && source.IsMissing({kVersionListName}) &&
         source.IsMissing({kManifestName});
}

}  // namespace

bool FollowChannel(ReleaseSource* source, const std::string& channel,
                   const std::string& trusted_key, uint64_t last_pointer,
                   const std::string& install_dir, const std::string& installed_patch,
                   ChannelFollow* follow, std::string* error) {
  *follow = ChannelFollow();
  follow->channel = channel;
  if (source->IsPatchDirectory()) return true;
  // Without a trusted key the default channel follows LATEST exactly as
  // before channels (the stable pointer names the same release); a pointer
  // earns its place where its signature and sequence can be checked.
  if (channel == kDefaultChannel && trusted_key.empty()) {
    return source->FollowLatest(error) || Fail(follow, update::UpdateFailure::kNetwork);
  }
  update::ChannelInput input;
  input.channel = channel;
  input.trusted_key = trusted_key;
  input.last_pointer = last_pointer;
  input.now = update::UtcTimeNow();
  if (!ReadPointerPair(*source, channel, &input)) {
    if (channel != kDefaultChannel) {
      *error = "'" + source->location() + "' has no channel '" + channel + "' (no " +
               ChannelPointerFileName(channel) + ")";
      return Fail(follow, update::UpdateFailure::kNetwork);
    }
    if (last_pointer != 0) {
      if (NothingThere(*source)) {
        // A mistyped address, not a pointer taken away.
        *error = "no release found at '" + source->location() + "': it has no " +
                 ChannelPointerFileName(channel) + ", " + kLatestName + ", " + kVersionListName +
                 " or " + kManifestName + "; nothing was installed";
        return Fail(follow, update::UpdateFailure::kNetwork);
      }
      // A signed pointer was taken from here before: its disappearance must
      // not bring back LATEST, which carries no number of its own.
      *error = "'" + source->location() + "' no longer has the signed pointer of channel '" +
               channel + "'; nothing was installed";
      return Fail(follow, update::UpdateFailure::kRefused);
    }
    return source->FollowLatest(error) || Fail(follow, update::UpdateFailure::kNetwork);
  }
  update::ChannelChoice choice;
  if (!ChooseFromPair(*source, &input, &choice, error)) {
    return Fail(follow, update::UpdateFailure::kRefused);
  }
  follow->pointer = choice.pointer.sequence;
  follow->offered = choice.pointer.patch;
  follow->rollout = choice.pointer.rollout;
  // A pointer binds its release, and may take the install back to an older
  // one, only where an earlier pointer of the same channel was taken: the
  // first pointer seen from a channel (a new install, a switch) could be any
  // old one the key ever signed.
  if (choice.verified && last_pointer != 0) follow->expected_sequence = choice.pointer.release;
  if (choice.pointer.rollout < 100 && choice.pointer.patch != installed_patch) {
    std::string id;
    if (!update::LoadInstallId(install_dir, &id, error)) {
      return Fail(follow, update::UpdateFailure::kDisk);
    }
    if (!update::InRollout(id, choice.pointer.patch, choice.pointer.rollout)) {
      if (!installed_patch.empty()) {
        follow->held_back = true;
        return true;
      }
      // A new install outside the rollout: of the stable channel, the release
      // before it, which LATEST keeps naming until the rollout is complete;
      // of another channel, which keeps no such name, the release offered.
      if (channel == kDefaultChannel) {
        *follow = ChannelFollow();
        follow->channel = channel;
        return source->FollowLatest(error) || Fail(follow, update::UpdateFailure::kNetwork);
      }
    }
  }
  source->EnterPatch(choice.pointer.patch);
  return true;
}

}  // namespace updater

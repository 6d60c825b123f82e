#include "cli/install_record_front.h"

#include <filesystem>
#include <system_error>

#include "signing/channel_pointer.h"
#include "update/channel_choice.h"
#include "update/install_paths.h"
#include "update/rollout.h"
#include "update/install_status.h"

namespace {

bool IsUrl(const std::string& text) {
  return text.compare(0, 7, "http://") == 0 || text.compare(0, 8, "https://") == 0;
}

}  // namespace

std::string SourceToRemember(const std::string& given) {
  if (IsUrl(given)) return given;
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(given, error);
  return error ? given : absolute.lexically_normal().string();
}

bool RememberedSource(const std::string& install_dir, std::string* source, std::string* error) {
  update::InstallRecord record;
  switch (update::ReadInstallRecord(install_dir, &record)) {
    case update::RecordState::kRead:
      *source = record.source;
      return true;
    case update::RecordState::kNone:
      *error = "SOURCE is missing, and no earlier update of '" + install_dir + "' recorded one";
      return false;
    case update::RecordState::kDamaged:
      break;
  }
  *error = "'" + update::JoinInstallPath(install_dir, {update::kInstallRecordName}) +
           "' is damaged; give SOURCE once to record it again";
  return false;
}

std::string PatchNameOf(const std::string& location) {
  std::string text = location;
  while (!text.empty() && (text.back() == '/' || text.back() == '\\')) text.pop_back();
  size_t cut = text.find_last_of("/\\");
  return cut == std::string::npos ? text : text.substr(cut + 1);
}

bool RecordInstalledRelease(const std::string& install_dir, const std::string& source_given,
                            const std::string& channel, uint64_t pointer,
                            const std::string& patch_location, const update::UpdateOutcome& outcome,
                            std::string* error) {
  update::InstallRecord record;
  record.source = SourceToRemember(source_given);
  record.channel = channel;
  record.pointer = pointer;
  record.patch = PatchNameOf(patch_location);
  record.has_sequence = outcome.has_sequence;
  record.sequence = outcome.sequence;
  record.verified = outcome.verified;
  record.installed = update::UtcTimeNow();
  return update::WriteInstallRecord(install_dir, record, error);
}

bool IsUpToDate(const update::UpdateOptions& options, const update::UpdateOutcome& outcome) {
  return outcome.planned && !outcome.interrupted && outcome.plan.fetch.empty() &&
         (!options.prune || outcome.plan.obsolete.empty());
}

bool FollowChannel(ReleaseSource* source, const std::string& channel,
                   const std::string& trusted_key, uint64_t last_pointer,
                   const std::string& install_dir, const std::string& installed_patch,
                   ChannelFollow* follow, std::string* error) {
  *follow = ChannelFollow();
  if (source->IsPatchDirectory()) return true;
  // Without a trusted key the default channel follows LATEST exactly as
  // before channels (the stable pointer names the same release); a pointer
  // earns its place where its signature and sequence can be checked.
  if (channel == kDefaultChannel && trusted_key.empty()) return source->FollowLatest(error);
  update::ChannelInput input;
  input.channel = channel;
  input.trusted_key = trusted_key;
  input.last_pointer = last_pointer;
  input.now = update::UtcTimeNow();
  if (!source->ReadTopFile(ChannelPointerFileName(channel), kChannelPointerSizeLimit,
                           &input.text)) {
    if (channel != kDefaultChannel) {
      *error = "'" + source->location() + "' has no channel '" + channel + "' (no " +
               ChannelPointerFileName(channel) + ")";
      return false;
    }
    if (last_pointer != 0) {
      // A signed pointer was taken from here before: its disappearance must
      // not bring back LATEST, which carries no number of its own.
      *error = "'" + source->location() + "' no longer has the signed pointer of channel '" +
               channel + "'; nothing was installed";
      return false;
    }
    return source->FollowLatest(error);
  }
  input.has_signature =
      source->ReadTopFile(ChannelSignatureFileName(channel), 4096, &input.signature);
  update::ChannelChoice choice;
  if (!update::ChooseFromChannel(input, &choice, error)) return false;
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
    if (!update::LoadInstallId(install_dir, &id, error)) return false;
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
        return source->FollowLatest(error);
      }
    }
  }
  source->EnterPatch(choice.pointer.patch);
  return true;
}

#include "update/channel_choice.h"

#include "signing/channel_signature.h"

namespace update {

bool ChooseFromChannel(const ChannelInput& input, ChannelChoice* choice, std::string* error) {
  const std::string name = "the channel pointer of '" + input.channel + "'";
  std::string why;
  ChannelPointer pointer;
  if (!ParseChannelPointer(input.text, &pointer, &why)) {
    *error = name + " is damaged (" + why + ")";
    return false;
  }
  if (pointer.channel != input.channel) {
    // A pointer copied from another channel would move clients across.
    *error = name + " names the channel '" + pointer.channel + "'";
    return false;
  }
  if (ChannelPointerExpired(pointer, input.now)) {
    *error =
        name + " expired on " + pointer.expires + ": the server no longer offers a current release";
    return false;
  }
  choice->pointer = pointer;
  choice->verified = false;
  if (input.trusted_key.empty()) return true;
  if (!input.has_signature) {
    *error = name + " is not signed (no " + ChannelSignatureFileName(input.channel) + ")";
    return false;
  }
  if (!VerifyChannelSignature(input.text, input.signature, input.trusted_key, &why)) {
    *error = name + " is refused: " + why;
    return false;
  }
  if (pointer.sequence < input.last_pointer) {
    *error = name + " is older (" + std::to_string(pointer.sequence) +
             ") than the one this install took last (" + std::to_string(input.last_pointer) +
             "): an old pointer served again is refused";
    return false;
  }
  choice->verified = true;
  return true;
}

}  // namespace update

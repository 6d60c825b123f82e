// Which release a client takes from a channel pointer (the format is in
// protocol/channel_pointer.h). With a trusted key the pointer must carry the
// key's signature and a sequence no lower than the last one this install
// took from the channel: an older pointer served again, by the server or
// anyone between, is refused, while a newer one that points the channel
// back to an older release is the publisher's deliberate roll-back and is
// taken (the release must then carry exactly the number the pointer names).
#ifndef FILEDIST_UPDATE_CHANNEL_CHOICE_H
#define FILEDIST_UPDATE_CHANNEL_CHOICE_H

#include <cstdint>
#include <string>

#include "protocol/channel_pointer.h"

namespace update {

struct ChannelInput {
  std::string channel;         // the channel followed
  std::string text;            // channel.NAME as fetched
  bool has_signature = false;  // channel.NAME.sig was fetched
  std::string signature;
  std::string trusted_key;    // the public key file; empty: unverified
  uint64_t last_pointer = 0;  // the last pointer taken from this channel (0: none)
  std::string now;            // the UTC time, as a pointer's expiry is written
};

struct ChannelChoice {
  ChannelPointer pointer;
  bool verified = false;  // signed by the trusted key: its release number binds
};

// False, with *error naming why, when the pointer must be refused.
bool ChooseFromChannel(const ChannelInput& input, ChannelChoice* choice, std::string* error);

}  // namespace update

#endif  // FILEDIST_UPDATE_CHANNEL_CHOICE_H

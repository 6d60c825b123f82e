// A channel pointer: the file beside LATEST in a release folder that names
// the patch directory a channel (stable, beta, ...) currently offers. It
// carries a sequence of its own, one above the channel's previous pointer,
// so that a client accepts a release the publisher deliberately pointed the
// channel back to (a newer pointer naming an older release) while it still
// refuses an older pointer replayed by anyone else.
//
// RELEASES/channel.NAME, plain text, LF line ends, exactly these lines:
//
//   filedist-channel 1
//   channel NAME          letters, digits, '-' and '_', at most 64
//   sequence N            the pointer's own number, from 1
//   patch Patch_YYYYMMDD_HHMMSS
//   release N             the Manifest sequence of that patch directory
//   rollout P             the share of installs offered it, 0 to 100 percent
//                         (update/rollout.h); 0 halts the rollout
//   expires TIME|-        YYYY-MM-DDTHH:MM:SSZ: a client refuses the pointer
//                         from then on, so that a server that keeps serving
//                         an old pointer cannot hold clients unnoticed
//   end
//
// RELEASES/channel.NAME.sig, when the publisher signs (build --sign,
// promote --sign): an Ed25519 signature file over the pointer's bytes, as
// Manifest.sig is over the Manifest's.
#ifndef FILEDIST_PROTOCOL_CHANNEL_POINTER_H
#define FILEDIST_PROTOCOL_CHANNEL_POINTER_H

#include <cstddef>
#include <cstdint>
#include <string>

// The channel LATEST also names, and that a client follows by default.
extern const char* const kDefaultChannel;

struct ChannelPointer {
  std::string channel;
  uint64_t sequence = 0;
  std::string patch;
  uint64_t release = 0;
  int rollout = 100;
  std::string expires;  // empty: never
};

// A pointer file is a few short lines.
constexpr size_t kChannelPointerSizeLimit = 1024;

// True for a name a channel may have.
bool IsChannelName(const std::string& name);

// "channel.NAME" and "channel.NAME.sig".
std::string ChannelPointerFileName(const std::string& channel);
std::string ChannelSignatureFileName(const std::string& channel);

// The UTC time days days from now, as "expires" writes it.
std::string UtcTimeAfterDays(int days);

// True when the pointer has expired at now (a time as above).
bool ChannelPointerExpired(const ChannelPointer& pointer, const std::string& now);

// True for "channel.NAME" and "channel.NAME.sig" with a channel's NAME.
bool IsChannelPointerFileName(const std::string& name);

std::string FormatChannelPointer(const ChannelPointer& pointer);
// False, with *error set, for any text that FormatChannelPointer would not
// write.
bool ParseChannelPointer(const std::string& text, ChannelPointer* pointer, std::string* error);

#endif  // FILEDIST_PROTOCOL_CHANNEL_POINTER_H

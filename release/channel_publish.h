// Publishing a channel pointer (protocol/channel_pointer.h describes the
// file): after a build names its release in its channel, and when a
// publisher promotes an existing release to a channel or points it back to
// an older one. Under the release folder's lock, so that two publishers
// never give two pointers one number.
#ifndef FILEDIST_RELEASE_CHANNEL_PUBLISH_H
#define FILEDIST_RELEASE_CHANNEL_PUBLISH_H

#include <functional>
#include <string>
#include <vector>

#include "protocol/channel_pointer.h"

// Makes the signature file text for a pointer's bytes; false when it cannot.
using PointerSigner = std::function<bool(const std::string& text, std::string* signatureFile)>;

// Points channel at the patch directory patchName of releaseDir for rollout
// percent of installs, expiring expiresDays days from now (negative: never):
// one above the channel's current pointer, naming the release's Manifest
// sequence.
// With signer the pointer gets channel.NAME.sig; without, an earlier
// signature is removed. The default channel offered to all installs also
// rewrites LATEST, which clients of before channels follow. Every file is
// replaced whole and durably. The new pair is first written whole beside
// the old one (channel.NAME.next, channel.NAME.sig.next) and then renamed
// into place, the signature right before the pointer; a run stopped in
// between leaves the pending pair, which the next publishing or pruning in
// the folder puts in place before anything else (CompleteChannelPublishing).
// False, with *error set, when the release has no Manifest (or no
// Manifest.sig while signing), the lock is held elsewhere or a file cannot
// be written.
bool PublishChannel(const std::string& releaseDir, const std::string& channel,
                    const std::string& patchName, int rollout, int expiresDays,
                    const PointerSigner& signer, ChannelPointer* published, std::string* error);

// Puts every pending pair a stopped PublishChannel left in releaseDir in
// place, as that run would have. The caller holds the release folder's
// lock. False, with *error set, when one cannot be (the channel is then as
// the stopped run left it).
bool CompleteChannelPublishing(const std::string& releaseDir, std::string* error);

// True for the names of a pending pair: channel.NAME.next and
// channel.NAME.sig.next.
bool IsPendingChannelFileName(const std::string& name);

// Every channel pointer of releaseDir that reads as one. False, with
// *error set, when the folder cannot be listed or a pointer file is damaged
// (a caller about to remove releases must know every one).
bool ReadChannelPointers(const std::string& releaseDir, std::vector<ChannelPointer>* pointers,
                         std::string* error);

#endif  // FILEDIST_RELEASE_CHANNEL_PUBLISH_H

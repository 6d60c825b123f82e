// Publishing a channel pointer (signing/channel_pointer.h describes the
// file): after a build names its release in its channel, and when a
// publisher promotes an existing release to a channel or points it back to
// an older one. Under the release folder's lock, so that two publishers
// never give two pointers one number.
#ifndef FILEDIST_RELEASE_CHANNEL_POINTER_H
#define FILEDIST_RELEASE_CHANNEL_POINTER_H

#include <functional>
#include <string>
#include <vector>

#include "signing/channel_pointer.h"

// Makes the signature file text for a pointer's bytes; false when it cannot.
using PointerSigner = std::function<bool(const std::string& text, std::string* signatureFile)>;

// Points channel at the patch directory patchName of releaseDir for rollout
// percent of installs, expiring expiresDays days from now (negative: never):
// one above the channel's current pointer, naming the release's Manifest
// sequence.
// With signer, channel.NAME.sig is written first (a client that reads
// between the two finds them apart and refuses, taking the pair next time);
// without, an earlier signature is removed. The default channel also
// rewrites LATEST, which clients of before channels follow. False, with
// *error set, when the release has no Manifest (or no Manifest.sig while
// signing), the lock is held elsewhere or a file cannot be written.
bool PublishChannel(const std::string& releaseDir, const std::string& channel,
                    const std::string& patchName, int rollout, int expiresDays,
                    const PointerSigner& signer, ChannelPointer* published, std::string* error);

// Every channel pointer of releaseDir that reads as one. False, with
// *error set, when the folder cannot be listed or a pointer file is damaged
// (a caller about to remove releases must know every one).
bool ReadChannelPointers(const std::string& releaseDir, std::vector<ChannelPointer>* pointers,
                         std::string* error);

#endif  // FILEDIST_RELEASE_CHANNEL_POINTER_H

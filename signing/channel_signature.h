// The signature of a channel pointer (protocol/channel_pointer.h):
// channel.NAME.sig beside channel.NAME, a signature file over the pointer's
// bytes by one of the keys the client trusts.
#ifndef FILEDIST_SIGNING_CHANNEL_SIGNATURE_H
#define FILEDIST_SIGNING_CHANNEL_SIGNATURE_H

#include <string>

// Checks signatureText (a signature file) over text with the public key
// file publicKeyFile. False, with *error set, when the key cannot be read or
// the signature is not the key's.
bool VerifyChannelSignature(const std::string& text, const std::string& signatureText,
                            const std::string& publicKeyFile, std::string* error);

#endif  // FILEDIST_SIGNING_CHANNEL_SIGNATURE_H

// Bytes as lowercase hexadecimal text and back, as the manifest, the key
// files and the signature file write them.
#ifndef FILEDIST_SIGNING_HEX_TEXT_H
#define FILEDIST_SIGNING_HEX_TEXT_H

#include <cstddef>
#include <string>

std::string HexText(const unsigned char* bytes, size_t size);

// Reads exactly size bytes from 2 * size lowercase hexadecimal digits.
// False for any other length or character (upper case included: one
// spelling per value keeps signed text unambiguous).
bool ParseHexText(const std::string& text, unsigned char* bytes, size_t size);

#endif  // FILEDIST_SIGNING_HEX_TEXT_H

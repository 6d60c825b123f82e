// Lower-casing as the version logic does it: byte by byte, A to Z only, so
// that names in any code page compare the same on every system.
#ifndef FILEDIST_VERSION_ASCII_LOWER_H
#define FILEDIST_VERSION_ASCII_LOWER_H

#include <string>

std::string LowerAscii(const std::string& text);

#endif  // FILEDIST_VERSION_ASCII_LOWER_H

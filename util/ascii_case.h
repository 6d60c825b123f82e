// Letter case as the library compares names: byte by byte, A to Z only, so
// that names in any code page compare the same on every system (and as
// Windows compares file names in the ASCII range).
#ifndef FILEDIST_UTIL_ASCII_CASE_H
#define FILEDIST_UTIL_ASCII_CASE_H

#include <string>
#include <string_view>

namespace util {

inline char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
inline char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// text with A to Z turned into a to z; every other byte as it is.
std::string LowerAscii(std::string_view text);

// Equal but for the letter case of A to Z.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

// text begins with prefix, but for the letter case of A to Z.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace util

#endif  // FILEDIST_UTIL_ASCII_CASE_H

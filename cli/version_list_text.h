// Telling a version list from other files before listing it. The library's
// reader skips lines it cannot use and reads any bytes as text, so handed a
// compressed or foreign file it would list rows of rubbish.
#ifndef FILEDIST_CLI_VERSION_LIST_TEXT_H
#define FILEDIST_CLI_VERSION_LIST_TEXT_H

#include <cstdint>
#include <string>

// The most lines a version list may hold: more than the 200,000 files an
// install folder is built for. With the longest line (1023 characters and
// its CR LF) it bounds what a list may decode to, so that a small gzip bomb
// cannot fill the disk or the memory of the program that lists it.
constexpr long kMostListLines = 1L << 18;
constexpr uint64_t kMostListBytes = static_cast<uint64_t>(kMostListLines) * 1025;

// True when the plain file at path reads as a version list: every line
// empty or "path,key,size" with a non-empty path, a key of 32 hexadecimal
// digits and a size of decimal digits with an optional minus sign, no line
// longer than 1023 characters, no control bytes and at most kMostListLines
// lines. Otherwise false with
// *problem saying which line is wrong and how ("line 3 is not
// path,key,size"); also false when the file cannot be read.
bool CheckVersionListText(const std::string& path, std::string* problem);

#endif  // FILEDIST_CLI_VERSION_LIST_TEXT_H

// Telling a version list from other files before listing it. The library's
// reader skips lines it cannot use and reads any bytes as text, so handed a
// compressed or foreign file it would list rows of rubbish.
#ifndef FILEDIST_CLI_VERSION_LIST_TEXT_H
#define FILEDIST_CLI_VERSION_LIST_TEXT_H

#include <string>

// True when the plain file at path reads as a version list: every line
// empty or "path,key,size" with a non-empty path, a key of 32 hexadecimal
// digits and a size of decimal digits with an optional minus sign, no line
// longer than 1023 characters and no control bytes. Otherwise false with
// *problem saying which line is wrong and how ("line 3 is not
// path,key,size"); also false when the file cannot be read.
bool CheckVersionListText(const std::string& path, std::string* problem);

#endif  // FILEDIST_CLI_VERSION_LIST_TEXT_H

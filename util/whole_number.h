// Whole numbers as options give them, checked: decimal digits alone (no
// sign, no space) and a value within the range the caller names. strtol and
// strtoull take a sign and a leading space, and wrap or clamp what they
// cannot hold ("-1" becomes the largest number), so a mistyped option would
// otherwise run as a different one instead of being refused.
#ifndef FILEDIST_UTIL_WHOLE_NUMBER_H
#define FILEDIST_UTIL_WHOLE_NUMBER_H

#include <cstdint>
#include <string>

namespace util {

// *value is text's number when text is only digits and the number is from
// low to high; false (*value as it was) for anything else, null included.
// The int form takes a range within 0 to INT_MAX.
bool ParseCount(const char* text, uint64_t low, uint64_t high, uint64_t* value);
bool ParseCount(const char* text, int low, int high, int* value);
// The same for text read from a file, where a NUL byte is one more byte
// that is no digit (and would otherwise end the number early).
bool ParseCount(const std::string& text, uint64_t low, uint64_t high, uint64_t* value);

}  // namespace util

#endif  // FILEDIST_UTIL_WHOLE_NUMBER_H

// A byte count as people read it, for the program's and the engine's
// messages alike, so that the same size never reads two ways.
#ifndef FILEDIST_UTIL_SIZE_TEXT_H
#define FILEDIST_UTIL_SIZE_TEXT_H

#include <cstdint>
#include <string>

namespace util {

// "512 bytes", "1.5 KiB", "12.3 MiB", "1.25 GiB".
std::string FormatSize(uint64_t bytes);

}  // namespace util

#endif  // FILEDIST_UTIL_SIZE_TEXT_H

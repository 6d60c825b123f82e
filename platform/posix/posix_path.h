// Helpers the POSIX back end shares between its files.
#ifndef FILEDIST_PLATFORM_POSIX_POSIX_PATH_H
#define FILEDIST_PLATFORM_POSIX_POSIX_PATH_H

#include <string>

namespace plat {

// path with every '\' turned into '/', ready for the POSIX calls.
std::string ToNativePath(const char* path);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_POSIX_POSIX_PATH_H

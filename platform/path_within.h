// Whether one directory lies inside another. A release build refuses to
// start when its source, its temporary tree and its release folder overlap,
// since removing the temporary tree would then delete the source or the
// release just made.
#ifndef FILEDIST_PLATFORM_PATH_WITHIN_H
#define FILEDIST_PLATFORM_PATH_WITHIN_H

#include <string>

namespace plat {

// The absolute path with every link in its existing part resolved, so that
// two names of one directory compare equal; the part that does not exist yet
// is appended as written. path itself when nothing can be resolved.
std::string ResolveExistingPart(const std::string& path);

// True when inner is outer or lies below it, comparing component by
// component ('\' and '/' alike, "." and ".." folded) with the file system's
// rule for names: case-insensitive on Windows, exact elsewhere.
bool PathIsWithin(const std::string& inner, const std::string& outer);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_PATH_WITHIN_H

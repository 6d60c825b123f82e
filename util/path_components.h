// A path as its components: one splitter for every part of the library that
// compares, checks or rebuilds paths. Both '\' and '/' separate, as they do
// in the names the library is given on either system.
//
// Callers differ in what a ".." means to them (a release list refuses it, a
// scan folds it, path arithmetic keeps one that climbs above a relative
// start), so the splitter leaves every ".." in place and FoldParentSteps
// folds them for the callers that want that.
#ifndef FILEDIST_UTIL_PATH_COMPONENTS_H
#define FILEDIST_UTIL_PATH_COMPONENTS_H

#include <string>
#include <string_view>
#include <vector>

namespace util {

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The names between separators, in order, without the empty ones (doubled,
// leading or trailing separators) and without ".". A ".." stays where it is.
std::vector<std::string> PathComponents(std::string_view path);

// Folds each ".." into the component before it. A ".." with nothing left to
// fold into is kept when keep_leading (a relative path that climbs above
// where it starts) and dropped otherwise (the parent of a root is the root).
void FoldParentSteps(std::vector<std::string>* components, bool keep_leading);

// True when one of the components is "..".
bool HasParentStep(const std::vector<std::string>& components);

}  // namespace util

#endif  // FILEDIST_UTIL_PATH_COMPONENTS_H

// Names for files moved out of the way because another program holds them.
// On Windows a running program or a loaded library cannot be overwritten,
// but it can be renamed; its new version then takes the name while the old
// image runs on under the other name until the program ends. The moved
// copy stays in its own folder (a rename never leaves the volume) and is
// called ".~old-", eight hexadecimal digits, "-" and its former name, so a
// person looking at the folder sees what it was.
#ifndef FILEDIST_FILEIO_ASIDE_NAME_H
#define FILEDIST_FILEIO_ASIDE_NAME_H

#include <string>

// True for a name in the pattern above (its prefix compared without regard
// to letter case, as Windows compares names). Such a name is never a file
// of a release.
bool IsAsideName(const std::string& name);

// A path beside target, in the pattern above, at which nothing exists yet.
// The former name is left out where the path would grow past the system's
// limit; empty when even the shorter name does not fit.
std::string AsidePathFor(const std::string& target);

#endif  // FILEDIST_FILEIO_ASIDE_NAME_H

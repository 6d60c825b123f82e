// The startup directory: the folder the host program lies in. A release build
// reads Filters.ini there, writes VerComp.dat, Ver and its lock there and
// resolves relative arguments against it; BuildVer.log lies there and the
// update list looks for installed programs below it. Every part of the
// library asks this one provider, never the system directly, so that a test
// can run the library in its own process as if its host lay in a scratch
// folder.
#ifndef FILEDIST_PLATFORM_STARTUP_DIRECTORY_H
#define FILEDIST_PLATFORM_STARTUP_DIRECTORY_H

#include <string>

namespace plat {

// The startup directory, without a trailing separator: the one a test set,
// else the directory of the running program's executable (not of this
// library). False, with *dir untouched, when the system cannot tell.
bool GetStartupDirectory(std::string* dir);

// From now on GetStartupDirectory answers dir; an empty dir returns it to
// the system's answer. Meant for tests and for the filedist program's
// `build --packer`, between runs of the library: a run under way may see
// either answer. Not exported by the shared library, whose
// hosts always live where their program lies.
void SetStartupDirectory(const std::string& dir);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_STARTUP_DIRECTORY_H

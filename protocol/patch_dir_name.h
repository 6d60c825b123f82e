// The name of a release's patch directory, "Patch_YYYYMMDD_HHMMSS": what a
// build names its output (release_dirs.h), what a channel pointer and the
// release pointer may name, and what a release folder's listing and pruning
// take for a release.
#ifndef FILEDIST_PROTOCOL_PATCH_DIR_NAME_H
#define FILEDIST_PROTOCOL_PATCH_DIR_NAME_H

#include <string>

// True for a name that a build can give its patch directory: "Patch_", eight
// digits, "_" and six digits, nothing more.
bool IsPatchDirName(const std::string& name);

#endif  // FILEDIST_PROTOCOL_PATCH_DIR_NAME_H

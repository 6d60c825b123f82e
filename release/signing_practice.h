// Whether a release folder's publisher signs. A folder whose releases are
// signed stays so: a build or a promote there without a key would publish
// what every client that trusts the key refuses (a release without
// Manifest.sig, a channel pointer without its signature), so the program
// asks for --unsigned before it does that.
#ifndef FILEDIST_RELEASE_SIGNING_PRACTICE_H
#define FILEDIST_RELEASE_SIGNING_PRACTICE_H

#include <string>

// True when the release LATEST names has a Manifest.sig, or when any channel
// pointer of releaseDir has its signature beside it. A folder that is not
// there, or holds neither, is not signed.
bool ReleaseFolderIsSigned(const std::string& releaseDir);

#endif  // FILEDIST_RELEASE_SIGNING_PRACTICE_H

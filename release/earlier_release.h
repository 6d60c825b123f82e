// The earlier releases in a release folder, as a rebuild may take from them:
// the compressed file of every path whose key has not changed is already
// there, and taking it is far cheaper than compressing the same bytes again.
#ifndef FILEDIST_RELEASE_EARLIER_RELEASE_H
#define FILEDIST_RELEASE_EARLIER_RELEASE_H

#include <map>
#include <string>
#include <vector>

#include "version/file_version.h"

struct EarlierRelease {
  std::string patchDir;                     // empty: there is none to take from
  std::map<std::string, std::string> keys;  // listed path -> key
  // What the build that made it recorded of its compressed files (path ->
  // member); empty when it kept no readable record.
  std::map<std::string, EarlierMember> members;
};

// Looks through the patch directories of releaseDir, newest name first, for
// the newest count whose compressed version list expands whole and matches
// its key file (a build that failed halfway leaves a directory without
// them): the ones a build takes from and makes binary patches from
// (release_patches.h). Empty when there is none.
std::vector<EarlierRelease> FindEarlierReleases(const std::string& releaseDir, size_t count);

#endif  // FILEDIST_RELEASE_EARLIER_RELEASE_H

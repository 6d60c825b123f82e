// The sequence number of the next release in a release folder: clients
// refuse a signed release numbered below the one they have, so that an old
// release served again cannot take them back.
#ifndef FILEDIST_RELEASE_RELEASE_SEQUENCE_H
#define FILEDIST_RELEASE_RELEASE_SEQUENCE_H

#include <cstdint>
#include <string>

// One more than the highest sequence number among the manifests of the patch
// directories in releaseDir, or 1 when none has a manifest. 0 when the next
// number would pass the highest a manifest may carry.
uint64_t NextReleaseSequence(const std::string& releaseDir);

#endif  // FILEDIST_RELEASE_RELEASE_SEQUENCE_H

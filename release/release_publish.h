// Publishing a release: its files flushed to the disk, then the release
// folder's LATEST (protocol/latest_pointer.h) pointed at it. A release build
// does this last, once the release is whole (and signed).
#ifndef FILEDIST_RELEASE_RELEASE_PUBLISH_H
#define FILEDIST_RELEASE_RELEASE_PUBLISH_H

#include <string>

#include "protocol/latest_pointer.h"

// Points the release folder that holds patchDir (the folder above it) at
// patchDir. The new pointer is written beside the old one and renamed over
// it, so that a client reads the old name or the new one, never half of
// one, and it is flushed, renamed and its folder flushed, so that the new
// one survives a power cut. False with *error set (naming the file) when it cannot be written;
// the old pointer is then left as it was.
bool WriteReleasePointer(const std::string& patchDir, std::string* error);

// Publishes a whole release: flushes every file below patchDir to the disk,
// then points the release folder at it (WriteReleasePointer), so that after
// a power cut the pointer never names a release of empty or zeroed files.
// False with *error set when a file cannot be flushed (the pointer is then
// not written) or the pointer cannot be written.
bool PublishRelease(const std::string& patchDir, std::string* error);

// The first half of PublishRelease alone, for a release that a pointer other
// than LATEST names: every file below patchDir flushed to the disk. False
// with *error set (naming the file) when one cannot be.
bool FlushRelease(const std::string& patchDir, std::string* error);

#endif  // FILEDIST_RELEASE_RELEASE_PUBLISH_H

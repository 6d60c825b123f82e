// The release pointer: a file LATEST in a release folder names the folder's
// newest patch directory, so that clients can be pointed once at the folder
// and find each new release themselves. It holds one line, the directory's
// own name ("Patch_YYYYMMDD_HHMMSS") and a line feed. A release build
// writes it last, once the release is whole (and signed); a client reads it
// and follows it.
#ifndef FILEDIST_RELEASE_RELEASE_PUBLISH_H
#define FILEDIST_RELEASE_RELEASE_PUBLISH_H

#include <cstddef>
#include <string>

// The pointer's file name in a release folder.
extern const char* const kLatestName;

// A pointer is never longer than this; a reader that finds more has found
// something else.
constexpr size_t kReleasePointerSizeLimit = 256;

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

// The patch directory name that a pointer's text gives: the text without
// the line ends and spaces after it. False when that is not a patch
// directory's name, which a client must never follow (it could lead out of
// the release folder).
bool ParseReleasePointer(const std::string& text, std::string* patchName);

#endif  // FILEDIST_RELEASE_RELEASE_PUBLISH_H

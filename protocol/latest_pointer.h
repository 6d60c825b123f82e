// The release pointer: a file LATEST in a release folder names the folder's
// newest patch directory, so that clients can be pointed once at the folder
// and find each new release themselves. It holds one line, the directory's
// own name ("Patch_YYYYMMDD_HHMMSS") and a line feed. A release build
// writes it last, once the release is whole (and signed:
// release/release_publish.h); a client reads it and follows it.
#ifndef FILEDIST_PROTOCOL_LATEST_POINTER_H
#define FILEDIST_PROTOCOL_LATEST_POINTER_H

#include <cstddef>
#include <string>

// The pointer's file name in a release folder.
extern const char* const kLatestName;

// A pointer is never longer than this; a reader that finds more has found
// something else.
constexpr size_t kReleasePointerSizeLimit = 256;

// The patch directory name that a pointer's text gives: the text without
// the line ends and spaces after it. False when that is not a patch
// directory's name, which a client must never follow (it could lead out of
// the release folder).
bool ParseReleasePointer(const std::string& text, std::string* patchName);

#endif  // FILEDIST_PROTOCOL_LATEST_POINTER_H

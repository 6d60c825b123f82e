// The build record: what a build knows of the compressed files it put in a
// patch directory, kept beside that directory in the release folder
// (".build-records/Patch_YYYYMMDD_HHMMSS") for the next build of the same
// folder. Clients never read it, and it is no part of the release. Plain text, every line ending in a line
// feed, written byte for byte the same on every system:
//
//   filedist-build-record 1
//   member SHA256 GZSIZE KEY PLAINSHA256 PLAINSIZE CRC PATH
//                                   one per released file, in list order:
//                                   SHA-256 and size of the compressed file
//                                   as the build left it; the key (MD5),
//                                   SHA-256, size and CRC-32 (8 hexadecimal
//                                   digits) of its plain content; PATH as
//                                   the version list has it
//   end COUNT                       the number of member lines
//
// A later build takes a compressed file whose key is unchanged when its
// bytes still have the recorded digest: it is the member this build made or
// checked, so it need not be decoded again to prove it holds the content.
// And a file whose key is the recorded one needs only its key read: the
// record gives the digests the Manifest and the compressed file's check use.
#ifndef FILEDIST_RELEASE_BUILD_RECORD_H
#define FILEDIST_RELEASE_BUILD_RECORD_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "version/file_version.h"

// The record of the patch directory patchDir; empty when there is no
// folder above it.
std::string BuildRecordPath(const std::string& patchDir);

struct BuildRecordLine {
  std::string path;
  EarlierMember member;
};

// The text of a record of lines.
std::string FormatBuildRecord(const std::vector<BuildRecordLine>& lines);

// Reads a record strictly; false for anything else (the caller then decodes
// as if there were none).
bool ParseBuildRecord(const std::string& text, std::map<std::string, EarlierMember>* members);

#endif  // FILEDIST_RELEASE_BUILD_RECORD_H

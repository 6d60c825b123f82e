// The Manifest of a patch directory: what a release holds, in a form a
// signature can cover. Plain text, one record per line, every line ending
// in a line feed (no carriage return), written byte for byte the same on
// every system:
//
//   filedist-manifest 1
//   sequence N                     release number, 1 and up, grows per build
//   built YYYY-MM-DDTHH:MM:SSZ     build time, UTC
//   vercomp SHA256 SIZE            the patch directory's VerComp.dat (gzip)
//   ver SHA256 SIZE                the patch directory's Ver (gzip)
//   file SHA256 SIZE GZSIZE X PATH one per released file, in list order:
//                                  digest and size of the plain content,
//                                  size of the compressed file, X is "x" for
//                                  an executable file and "-" otherwise,
//                                  PATH as the version list has it
//   end COUNT                      the number of file lines
//
// SHA256 is 64 lowercase hexadecimal digits; numbers are decimal without
// sign or leading zeros. The version list and its key file are described as
// the client fetches them, compressed, so that a client can check them
// before it decompresses anything.
#ifndef FILEDIST_PROTOCOL_RELEASE_MANIFEST_H
#define FILEDIST_PROTOCOL_RELEASE_MANIFEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ManifestFile {
  std::string path;       // as the version list has it: ".\data\a.txt"
  std::string sha256;     // of the plain content, hexadecimal
  uint64_t size = 0;      // of the plain content
  uint64_t gzipSize = 0;  // of the compressed file in the patch directory
  bool executable = false;
};

struct ReleaseManifest {
  uint64_t sequence = 0;
  std::string built;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string verCompSha256;
  uint64_t verCompSize = 0;
  std::string verSha256;
  uint64_t verSize = 0;
  std::vector<ManifestFile> files;
};

// The name of the file in a patch directory, and of its signature.
extern const char kManifestName[];
extern const char kManifestSignatureName[];
// The names of the version list and of its key file, which the manifest
// describes: compressed in a patch directory, plain in the packer's startup
// directory and in a client's installation.
extern const char kVersionListName[];
extern const char kListKeyName[];

// A manifest of a million files stays well below this; a reader refuses
// anything larger unread.
constexpr size_t kManifestSizeLimit = size_t{1} << 28;
// No line of a valid manifest comes near this: a path has at most 1023
// characters.
constexpr size_t kManifestLineLimit = 2048;

// The text of manifest. The caller passes only what the reader accepts.
std::string FormatManifest(const ReleaseManifest& manifest);

// Reads text strictly: exactly the lines above in that order, each field
// well formed, paths relative and free of "..", no path twice, nothing
// after the end line. On failure returns false and names the first fault
// in *error (with its line number); *manifest is then unspecified.
bool ParseManifest(const std::string& text, ReleaseManifest* manifest, std::string* error);

// The sequence number from the first lines of a manifest (its head is
// enough), for numbering the next release. False when they are not a
// manifest's.
bool ParseManifestSequence(const std::string& head, uint64_t* sequence);

// The highest sequence number the reader accepts.
constexpr uint64_t kManifestSequenceLimit = static_cast<uint64_t>(INT64_MAX);

// "YYYY-MM-DDTHH:MM:SSZ" for the current time.
std::string CurrentUtcTime();

#endif  // FILEDIST_PROTOCOL_RELEASE_MANIFEST_H

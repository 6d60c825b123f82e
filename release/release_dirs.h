// Names and places of what a release build makes, shared by its stages and
// by BuildVer.
#ifndef FILEDIST_RELEASE_RELEASE_DIRS_H
#define FILEDIST_RELEASE_RELEASE_DIRS_H

#include <string>
#include <vector>

#include "platform/platform.h"
#include "release/release_publish.h"

// The folder of a release folder that holds its builds' records
// (build_record.h), each named as its patch directory.
extern const char* const kBuildRecordFolder;

// "Patch_YYYYMMDD_HHMMSS" for the given local time.
std::string PatchDirName(const plat::LocalTime& time);

// A build writes its patch directory under another name and renames it to
// its own last, so that a build stopped part-way never leaves what looks
// like a release: ".partial-" and the directory's name, which
// IsPatchDirName refuses, so that no pointer, pruning, listing or client
// ever takes it.
std::string PartialPatchDirName(const std::string& patchName);

// The patch directory's own name for a PartialPatchDirName, or empty when
// name is not one.
std::string PatchNameOfPartial(const std::string& name);

// Removes what stopped builds left in releaseDir (their partial patch
// directories). Under the release folder's lock, before a build starts.
void RemovePartialPatchDirs(const std::string& releaseDir);

// PatchDirName gives what protocol/patch_dir_name.h's IsPatchDirName takes.
// The directories a build writes into that a scan must not pick up should
// they lie inside the source tree: outputDir's temporary tree and the patch
// directories already in releaseDir, its LATEST and its build records, resolved against the startup
// directory as the stages resolve them. Missing arguments contribute nothing.
std::vector<std::string> ReleaseOutputDirs(const char* outputDir, const char* releaseDir);

#endif  // FILEDIST_RELEASE_RELEASE_DIRS_H

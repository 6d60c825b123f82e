// Second names for files. A release gathers thousands of freshly written
// files into its patch directory; naming each one again is far cheaper than
// copying it, and leaves no file to free when the temporary tree goes.
#ifndef FILEDIST_PLATFORM_FILE_LINKS_H
#define FILEDIST_PLATFORM_FILE_LINKS_H

namespace plat {

// Gives the existing file existing the further name newPath, which must not
// exist yet. False where the file system has no such names (FAT, some
// shares), across volumes, or when newPath exists.
bool LinkFile(const char* existing, const char* newPath);

}  // namespace plat

#endif  // FILEDIST_PLATFORM_FILE_LINKS_H

// A folder of files made durable as a whole, before anything that points at
// it (a release's LATEST) is written: after a power cut a pointer never
// names a folder whose files did not reach the disk.
#ifndef FILEDIST_FILEIO_TREE_SYNC_H
#define FILEDIST_FILEIO_TREE_SYNC_H

#include <string>

// Flushes every file below dir (links not followed), and the folders that
// name them, to the disk: one syncfs on POSIX, a flush of each file on
// Windows. False, with *failed naming a file or folder that could not be
// listed or flushed, when the folder may not be whole on the disk.
bool SyncFilesBelow(const std::string& dir, std::string* failed);

#endif  // FILEDIST_FILEIO_TREE_SYNC_H

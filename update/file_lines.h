// The updater's own line files (the journal, the aside list) read back.
// They are written through ReplaceFileDurably (fileio/replacement_file.h),
// so a reader finds either the old contents or the whole new ones.
#ifndef FILEDIST_UPDATE_FILE_LINES_H
#define FILEDIST_UPDATE_FILE_LINES_H

#include <string>
#include <vector>

namespace update {

// Reads such a file back as its lines, each without its line end (CR LF or
// LF); a last line without one counts, empty lines stay. False when the file
// cannot be opened or read, or is not a regular file (a link is refused,
// never followed).
bool ReadFileLines(const std::string& path, std::vector<std::string>* lines);

}  // namespace update

#endif  // FILEDIST_UPDATE_FILE_LINES_H

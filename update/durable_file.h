// Files of the updater's own (the client list, the journal) written so that
// a reader finds either the old contents or the whole new ones, and the new
// ones survive a power cut once the call returns.
#ifndef FILEDIST_UPDATE_DURABLE_FILE_H
#define FILEDIST_UPDATE_DURABLE_FILE_H

#include <string>
#include <vector>

namespace update {

// Writes text to a new file temporary (which must lie on target's file
// system), flushes it to the disk, renames it over target and makes the
// rename durable. On failure target is as it was and *error holds the
// system's text.
bool WriteFileDurably(const std::string& target, const std::string& temporary,
                      const std::string& text, std::string* error);

// Reads such a file back as its lines, each without its line end (CR LF or
// LF); a last line without one counts, empty lines stay. False when the file
// cannot be opened or read, or is not a regular file (a link is refused,
// never followed).
bool ReadFileLines(const std::string& path, std::vector<std::string>* lines);

}  // namespace update

#endif  // FILEDIST_UPDATE_DURABLE_FILE_H

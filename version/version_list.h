// Version list files: one line per record, "path,key,size", lines ending in
// carriage return and line feed.
#ifndef FILEDIST_VERSION_VERSION_LIST_H
#define FILEDIST_VERSION_VERSION_LIST_H

#include "version/version_record.h"

// Longest line a record can come from: the longest path and key with room
// for the size. Longer lines cannot hold a record a host could receive.
constexpr size_t kMaxVersionLineLength = 4096;

// Reads the version list at listPath into entries and index (both emptied
// first). A line longer than kMaxVersionLineLength is skipped without being
// held in memory, so a list with no line feed cannot exhaust it; a line
// without two commas, or whose path or key does not fit a VersionEntry, is
// skipped too. A path listed
// twice gives two records; the index keeps the last. Switches the process
// locale to the user's default while reading and leaves it at "C". Returns
// false when listPath is null (nothing touched) or the file cannot be opened
// (entries and index left empty).
bool ReadVersionList(const char* listPath, VersionRecordList* entries, PathIndex* index);

// Writes entries to listPath: to a temporary file of its own beside it first
// (see ReplacementFile), every write and the close checked, then renamed over
// the list in one step. On any failure the old list stays as it was, the
// temporary file is gone and the result is false.
bool Data2File(const char* listPath, const VersionRecordList& entries);

// The text of one list line without its line end.
std::string FormatVersionLine(const VersionRecord& record);

#endif  // FILEDIST_VERSION_VERSION_LIST_H

// The checks a journal's entries pass before the apply they describe is
// finished. The journal lies in the install folder, so whoever can write
// that folder can plant one: its paths are held to the rules a release's
// paths are held to, and it may never touch the updater's own files.
#ifndef FILEDIST_UPDATE_JOURNAL_CHECK_H
#define FILEDIST_UPDATE_JOURNAL_CHECK_H

#include <string>
#include <vector>

#include "update/apply_journal.h"

namespace update {

// Splits the entry's path into *parts below installDir. False, with *reason
// saying why, when the path is not one a release may list (empty, absolute,
// with a drive, a stream or ".."), names one of the updater's own files or
// an old copy moved aside, or passes through a folder link that leads out
// of installDir. programName (the running program's file name when it lies
// in installDir) may be placed, as a release may ship the updater, but
// never removed. The links are looked at now: call this right before the
// entry is acted on.
bool CheckJournalEntry(const JournalEntry& entry, const std::string& installDir,
                       const std::string& programName, std::vector<std::string>* parts,
                       std::string* reason);

// True when none of the folders between installDir and the file parts
// names is a link that leads outside installDir; *reason says which does.
bool FoldersStayInside(const std::string& installDir, const std::vector<std::string>& parts,
                       std::string* reason);

}  // namespace update

#endif  // FILEDIST_UPDATE_JOURNAL_CHECK_H

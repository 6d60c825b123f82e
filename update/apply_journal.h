// The apply journal: before the first installed file is replaced, the list
// of files about to be placed or removed is made durable in the install
// folder. A run that finds one finishes that apply first, re-keying every
// file it names, so that no crash leaves the client list vouching for bytes
// it does not describe.
#ifndef FILEDIST_UPDATE_APPLY_JOURNAL_H
#define FILEDIST_UPDATE_APPLY_JOURNAL_H

#include <string>
#include <vector>

#include "version/version_record.h"

namespace update {

struct JournalEntry {
  enum Kind { kPlace, kRemove } kind = kPlace;
  // kPlace: the release's record, whose key the placed file must have.
  // kRemove: the client's record of the file to remove.
  VersionRecord record;
};

enum class JournalState {
  kAbsent,    // no apply was under way
  kTorn,      // written only in part: no file was touched yet
  kComplete,  // an apply was under way and must be finished
};

// Writes entries durably to journalPath through temporary.
bool WriteJournal(const std::string& journalPath, const std::string& temporary,
                  const std::vector<JournalEntry>& entries, std::string* error);

// Reads the journal at journalPath.
JournalState ReadJournal(const std::string& journalPath, std::vector<JournalEntry>* entries);

}  // namespace update

#endif  // FILEDIST_UPDATE_APPLY_JOURNAL_H

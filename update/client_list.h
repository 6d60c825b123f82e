// The client list of an install folder (VerComp.dat): read as any version
// list, written whole, durably and in one step.
#ifndef FILEDIST_UPDATE_CLIENT_LIST_H
#define FILEDIST_UPDATE_CLIENT_LIST_H

#include <string>

#include "version/version_record.h"

namespace update {

// Reads the list at path; a missing list is an empty one (nothing installed
// yet). False with *error set when it exists but cannot be read.
bool ReadInstalledList(const std::string& path, VersionRecordList* records, std::string* error);

// Writes records to path through the new file temporary (on the same file
// system). On failure the old list stays and *error says why.
bool WriteInstalledList(const std::string& path, const std::string& temporary,
                        const VersionRecordList& records, std::string* error);

}  // namespace update

#endif  // FILEDIST_UPDATE_CLIENT_LIST_H

// The names a version list can carry. A line of the list is "path,key,size"
// with no quoting, so a comma or a line break in a path makes a list no
// client reads back as written; a path longer than a record holds is skipped
// by every reader; and a file named VerComp.dat or Ver at the top of the
// tree would be overwritten in the release by the list and its key file.
// Releases are for Windows clients too: a Windows device name (aux.txt) is
// refused, and names Windows changes or takes for one file are warned about.
#ifndef FILEDIST_RELEASE_RELEASE_NAMES_H
#define FILEDIST_RELEASE_RELEASE_NAMES_H

#include <string>
#include <vector>

#include "version/version_record.h"

// Checks every scanned file (absolute paths below sourceDir) and every path
// the scan found too long to handle. Logs one error line, stamped with
// stage, for each path refused; true when there is none.
bool CheckReleaseNames(const std::string& sourceDir, const VersionRecordList& scanList,
                       const std::vector<std::string>& tooLong, const char* stage);

#endif  // FILEDIST_RELEASE_RELEASE_NAMES_H

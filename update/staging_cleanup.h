// What a failed update leaves in the staging folder, and its removal. The
// checked files stay for the next run to place without fetching them again;
// on a disk that filled up they keep it full, so a failure says how much
// they hold, and a user may remove them when no stopped apply needs them.
#ifndef FILEDIST_UPDATE_STAGING_CLEANUP_H
#define FILEDIST_UPDATE_STAGING_CLEANUP_H

#include <cstdint>
#include <string>

#include "update/update_reporter.h"

namespace update {

// Bytes held by the regular files directly in the staging folder of
// installDir (0 when it is missing or a link).
uint64_t StagedBytes(const std::string& installDir);

// "; the staging folder 'DIR' keeps SIZE ..." to end a failure message, or
// "" when the folder holds nothing.
std::string StagingLeftNote(const std::string& installDir);

// Removes the staging folder of installDir under the folder's lock. Refused
// (1, reported) while another update runs or an interrupted apply still
// needs the staged files; 0 once the folder is gone, saying what it held.
int CleanStaging(const std::string& installDir, UpdateReporter* reporter);

}  // namespace update

#endif  // FILEDIST_UPDATE_STAGING_CLEANUP_H

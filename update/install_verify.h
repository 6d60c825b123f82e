// filedist verify: every file the client list names, keyed again.
#ifndef FILEDIST_UPDATE_INSTALL_VERIFY_H
#define FILEDIST_UPDATE_INSTALL_VERIFY_H

#include <string>

#include "update/update_reporter.h"

namespace update {

// Re-keys every file the client list of installDir names and reports the
// missing and changed ones (and an update left unfinished). 0 when all
// match, 1 otherwise.
int RunVerify(const std::string& installDir, UpdateReporter* reporter);

}  // namespace update

#endif  // FILEDIST_UPDATE_INSTALL_VERIFY_H

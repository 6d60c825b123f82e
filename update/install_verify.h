// filedist verify: every file the client list names, keyed again.
#ifndef FILEDIST_UPDATE_INSTALL_VERIFY_H
#define FILEDIST_UPDATE_INSTALL_VERIFY_H

#include <string>
#include <vector>

#include "update/update_reporter.h"

namespace update {

// What a check found, for a front end that shows it in a form of its own.
// Paths are the client list's.
struct VerifyOutcome {
  bool listed = false;  // the client list was read (false: nothing was checked)
  int checked = 0;
  std::vector<std::string> missing;
  std::vector<std::string> changed;
  std::vector<std::string> ignored;  // listed paths no file of the folder can have ('..')
  bool interrupted = false;          // an update of the folder was left unfinished
};

// Re-keys every file the client list of installDir names and reports the
// missing and changed ones (and an update left unfinished). 0 when all
// match, 1 otherwise. outcome, when not null, receives what was found.
int RunVerify(const std::string& installDir, UpdateReporter* reporter,
              VerifyOutcome* outcome = nullptr);

}  // namespace update

#endif  // FILEDIST_UPDATE_INSTALL_VERIFY_H

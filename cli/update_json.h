// The --json documents of `filedist update` and `filedist verify`, made from
// what the update engine planned, did and found (the engine itself knows no
// JSON).
#ifndef FILEDIST_CLI_UPDATE_JSON_H
#define FILEDIST_CLI_UPDATE_JSON_H

#include <string>
#include <vector>

#include "cli/json_output.h"
#include "update/install_verify.h"
#include "update/update_engine.h"

// The fields known before the engine runs: what was asked.
Json UpdateDocument(const update::UpdateOptions& options, const std::string& source);

// Adds what the run planned and did; status 1 makes it a failed run's, with
// the last problem as its error.
void AddUpdateOutcome(const update::UpdateOutcome& outcome, int status,
                      const std::vector<std::string>& problems, Json* doc);

Json VerifyDocument(const std::string& install_dir, const update::VerifyOutcome& outcome,
                    int status, const std::vector<std::string>& problems);

#endif  // FILEDIST_CLI_UPDATE_JSON_H

// The fetch pool: the files of a plan fetched into the staging folder by
// several threads at once, each file checked against its key there. Files
// with one key are fetched once, for every path that lists it. The reporter
// hears from one thread at a time.
#ifndef FILEDIST_UPDATE_FETCH_POOL_H
#define FILEDIST_UPDATE_FETCH_POOL_H

#include <functional>
#include <string>
#include <vector>

#include "update/delta_fetch.h"
#include "update/release_fetcher.h"
#include "update/staging.h"
#include "update/update_engine.h"
#include "update/update_plan.h"
#include "update/update_reporter.h"

namespace update {

// What a checked file must pass besides its key, seen with every planned
// file that shares the key (files.front() is the one it was fetched for).
// False, with *error set, refuses it; it is then not kept staged either.
// Called by several threads at once, each with files of another key.
using StagedCheck =
    std::function<bool(const std::vector<const PlannedFile*>& files, std::string* error)>;

// Fetches every file of plan.fetch not staged already, with up to jobs
// threads (without a watch this one among them; fewer when the system has
// no more to give, and this one alone when it has none). Returns the
// number of planned files that failed, each told to the reporter and added
// to *failed. watch, when given, is called on this thread (update_engine.h);
// when it cancels, no new transfer starts, those under way are cut off
// and keep what they have, none counts as failed, and *cancelled is true.
// delta, when given, stages a key from its chosen patch where it has one
// (update/delta_fetch.h), the path the patch starts from then added to
// *patched, or, when the patch fails, to *patch_failed and the whole file
// fetched in its place.
struct PatchedFiles {
  DeltaFetch* delta = nullptr;
  std::vector<std::string>* patched = nullptr;
  std::vector<std::string>* patch_failed = nullptr;
};
int FetchIntoStaging(const UpdatePlan& plan, int jobs, Staging* staging, ReleaseFetcher* fetcher,
                     UpdateReporter* reporter, const StagedCheck& check,
                     std::vector<std::string>* failed, const FetchWatch& watch, bool* cancelled,
                     const PatchedFiles& patches = PatchedFiles());

}  // namespace update

#endif  // FILEDIST_UPDATE_FETCH_POOL_H

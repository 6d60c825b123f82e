// What an update must do: the files of the release to fetch and place, and
// the files the client lists that the release no longer does. Made from the
// two lists and a look at the install folder; refuses a release that would
// reach outside the folder or over the updater's own files.
#ifndef FILEDIST_UPDATE_UPDATE_PLAN_H
#define FILEDIST_UPDATE_UPDATE_PLAN_H

#include <cstdint>
#include <string>
#include <vector>

#include "version/version_record.h"

namespace update {

struct PlannedFile {
  VersionRecord record;            // the release's record; the client's for obsolete files
  std::vector<std::string> parts;  // path components below the install folder
  std::string target;              // the file in the install folder
  bool changed = false;            // the client lists it with another key
  bool is_program = false;         // the running updater itself
};

struct UpdatePlan {
  std::vector<PlannedFile> fetch;
  std::vector<PlannedFile> obsolete;
  uint64_t fetch_bytes = 0;  // compressed sizes as the release lists them
  std::vector<std::string> warnings;
};

struct PlanSettings {
  std::string install_dir;
  std::string program_name;  // the running program's file name if it lies in install_dir
  bool repair = false;       // re-key files the client lists with the release's key
};

// Compares release with client. False when the release must be refused as a
// whole; *refusals then names each path and why (nothing has been written).
bool MakeUpdatePlan(const VersionRecordList& release, const VersionRecordList& client,
                    const PlanSettings& settings, UpdatePlan* plan,
                    std::vector<std::string>* refusals);

// The compressed size a record lists, as an unsigned count (a negative size
// is the low half of a count of 2 GiB or more).
uint64_t ListedSize(const VersionRecord& record);

}  // namespace update

#endif  // FILEDIST_UPDATE_UPDATE_PLAN_H

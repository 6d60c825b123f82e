#include "update/update_plan.h"

#include <cstdio>
#include <map>
#include <set>

#include "fileio/aside_name.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/install_paths.h"

namespace update {

namespace {

// Checks the folders between the install folder and a target: a link or
// junction among them that leads outside would carry the file out, and a
// file where a folder belongs cannot be passed. checked remembers folders
// already found sound, and missing those found absent, below which nothing
// is there to look at (a first install looks at each folder once).
struct FolderLooks {
  std::set<std::string> checked;
  std::set<std::string> missing;
};

// *missing, when given, tells whether a folder on the way is missing (the
// target then cannot be there either).
bool CheckFolders(const std::string& installDir, const std::vector<std::string>& parts,
                  FolderLooks* looks, std::string* reason, bool* missing = nullptr) {
  std::set<std::string>* checked = &looks->checked;
  std::string dir = installDir;
  if (missing != nullptr) *missing = true;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    dir = JoinInstallPath(dir, {parts[i]});
    if (checked->count(dir) != 0) continue;
    if (looks->missing.count(dir) != 0) return true;
    uint32_t attributes = 0;
    bool exists = plat::GetAttributes(dir.c_str(), &attributes);
    if (plat::IsLinkEntry(dir)) {
      if (!exists || !LinkStaysInside(dir, installDir)) {
        *reason = "passes through the link '" + dir +
                  "', which leads outside the install directory or back to the updater's own files";
        return false;
      }
    } else if (!exists) {
      looks->missing.insert(dir);
      return true;  // made fresh when the file is placed
    }
    if ((attributes & plat::kAttrDirectory) == 0) {
      *reason = "needs the folder '" + dir + "', which is a file";
      return false;
    }
    checked->insert(dir);
  }
  if (missing != nullptr) *missing = false;
  return true;
}

bool IsFolder(const std::string& path) {
  uint32_t attributes = 0;
  return plat::NameIsTaken(path) && !plat::IsLinkEntry(path) &&
         plat::GetAttributes(path.c_str(), &attributes) && (attributes & plat::kAttrDirectory) != 0;
}

// A list path as a message can show it: a NUL or another control byte
// would cut the line or move the cursor, so it is written as \xNN.
std::string Shown(const std::string& path) {
  std::string shown;
  for (char c : path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace

uint64_t ListedSize(const VersionRecord& record) { return static_cast<uint32_t>(record.size); }

bool MakeUpdatePlan(const VersionRecordList& release, const VersionRecordList& client,
                    const PlanSettings& settings, UpdatePlan* plan,
                    std::vector<std::string>* refusals) {
  *plan = UpdatePlan();
  refusals->clear();
  PathIndex release_index;
  for (size_t i = 0; i < release.size(); ++i)
    release_index[release[i].path] = static_cast<int32_t>(i);
  PathIndex client_index;
  for (size_t i = 0; i < client.size(); ++i) client_index[client[i].path] = static_cast<int32_t>(i);

  FolderLooks checked;
  // Each release file by the form the file system gives its path: two list
  // paths with one form ("a.txt" and "A.txt" on Windows, ".\a" and "a"
  // anywhere) would be placed as one file that matches only one record.
  std::map<std::string, std::string> path_of_fold;
  for (size_t i = 0; i < release.size(); ++i) {
    const VersionRecord& record = release[i];
    // A path listed twice counts once, with its last record.
    if (release_index[record.path] != static_cast<int32_t>(i)) continue;
    PlannedFile file;
    file.record = record;
    std::string reason;
    if (!SplitReleasePath(record.path, &file.parts, &reason)) {
      refusals->push_back("'" + Shown(record.path) + "', which " + reason);
      continue;
    }
    // A new version of the updater program itself is welcome; nothing else
    // of the updater's may be touched.
    file.is_program = file.parts.size() == 1 && !settings.program_name.empty() &&
                      plat::SameEntryName(file.parts[0], settings.program_name);
    if (!file.is_program && IsUpdaterEntry(file.parts[0], settings.program_name)) {
      refusals->push_back("'" + Shown(record.path) +
                          "', which would replace a file of the updater's own");
      continue;
    }
    auto same = path_of_fold.emplace(FoldedInstallPath(file.parts), record.path);
    if (!same.second) {
      refusals->push_back("'" + Shown(record.path) + "', which is the same file as '" +
                          same.first->second + "' on this system");
      continue;
    }
    if (IsAsideName(file.parts.back())) {
      refusals->push_back("'" + record.path +
                          "', which has the name of an old copy moved aside while in use");
      continue;
    }
    bool below_missing = false;
    if (!CheckFolders(settings.install_dir, file.parts, &checked, &reason, &below_missing)) {
      refusals->push_back("'" + Shown(record.path) + "', which " + reason);
      continue;
    }
    file.target = JoinInstallPath(settings.install_dir, file.parts);
    if (!below_missing && IsFolder(file.target)) {
      refusals->push_back("'" + Shown(record.path) +
                          "', which is a folder in the install directory");
      continue;
    }
    auto found = client_index.find(record.path);
    bool fetch = true;
    if (found != client_index.end()) {
      const VersionRecord& installed = client[found->second];
      file.changed = installed.key != record.key;
      if (!file.changed) {
        // Listed with this key: fetch only what is missing or, when asked,
        // what no longer has it.
        std::string key;
        if (settings.repair) {
          fetch = !KeyOfInstalledFile(file.target, &key) || key != record.key;
        } else {
          fetch = plat::IsLinkEntry(file.target) || !plat::PathExists(file.target.c_str());
        }
      }
    }
    if (!fetch) continue;
    plan->fetch_bytes += ListedSize(record);
    plan->fetch.push_back(std::move(file));
  }
  if (!refusals->empty()) return false;

  for (const VersionRecord& record : client) {
    if (release_index.count(record.path) != 0) continue;
    PlannedFile file;
    file.record = record;
    std::string reason;
    if (!SplitReleasePath(record.path, &file.parts, &reason)) {
      plan->warnings.push_back("ignoring '" + Shown(record.path) +
                               "' of the installed list, which " + reason);
      continue;
    }
    // Another spelling of a path the release lists is that file: removing it
    // would remove what was just placed.
    auto listed = path_of_fold.find(FoldedInstallPath(file.parts));
    if (listed != path_of_fold.end()) {
      plan->warnings.push_back("keeping '" + record.path + "': the release lists it as '" +
                               listed->second + "'");
      continue;
    }
    if (IsUpdaterEntry(file.parts[0], settings.program_name) || IsAsideName(file.parts.back())) {
      plan->warnings.push_back("keeping '" + record.path + "': it is a file of the updater's own");
      continue;
    }
    std::string unused;
    if (!CheckFolders(settings.install_dir, file.parts, &checked, &unused)) {
      plan->warnings.push_back("keeping '" + record.path + "': " + unused);
      continue;
    }
    file.target = JoinInstallPath(settings.install_dir, file.parts);
    plan->obsolete.push_back(std::move(file));
  }
  return true;
}

}  // namespace update

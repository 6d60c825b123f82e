#include "update/install_verify.h"

#include <vector>

#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/client_list.h"
#include "update/install_paths.h"
#include "version/version_list.h"

namespace update {

namespace {

bool Exists(const std::string& path) {
  return plat::PathExists(path.c_str()) || plat::IsLinkEntry(path);
}

}  // namespace

int RunVerify(const std::string& installDir, UpdateReporter* reporter, VerifyOutcome* outcome) {
  VerifyOutcome unused;
  if (outcome == nullptr) outcome = &unused;
  std::string list_path = JoinInstallPath(installDir, {kClientListName});
  std::string journal_path = JoinInstallPath(installDir, {kJournalName});
  auto fail = [reporter](const std::string& text) {
    reporter->Problem(text);
    return 1;
  };
  if (!Exists(list_path)) {
    return fail("'" + installDir + "' has no version list " + kClientListName);
  }
  VersionRecordList client;
  std::string error;
  if (!ReadInstalledList(list_path, &client, &error)) return fail(error);
  outcome->listed = true;
  PathIndex index;
  for (size_t i = 0; i < client.size(); ++i) index[client[i].path] = static_cast<int32_t>(i);
  int checked = 0;
  int missing = 0;
  int changed = 0;
  for (size_t i = 0; i < client.size(); ++i) {
    const VersionRecord& record = client[i];
    if (index[record.path] != static_cast<int32_t>(i)) continue;
    std::vector<std::string> parts;
    std::string reason;
    if (!SplitReleasePath(record.path, &parts, &reason)) {
      reporter->Problem("ignoring '" + record.path + "', which " + reason);
      outcome->ignored.push_back(record.path);
      continue;
    }
    ++checked;
    std::string target = JoinInstallPath(installDir, parts);
    std::string key;
    if (!Exists(target)) {
      ++missing;
      reporter->Note("missing " + record.path);
      outcome->missing.push_back(record.path);
    } else if (!KeyOfInstalledFile(target, &key) || key != record.key) {
      ++changed;
      reporter->Note("changed " + record.path);
      outcome->changed.push_back(record.path);
    }
  }
  bool interrupted = Exists(journal_path);
  outcome->checked = checked;
  outcome->interrupted = interrupted;
  if (interrupted) {
    reporter->Problem("an update of this folder was interrupted; 'filedist update' finishes it");
  }
  reporter->Note(std::to_string(checked) + " files checked: " + std::to_string(missing) +
                 " missing, " + std::to_string(changed) + " changed");
  // A listed name this system cannot hold as a file (a Windows device, a path
  // out of the folder) is never opened, and the folder cannot be what the
  // list says it is.
  const bool unsafe = !outcome->ignored.empty();
  return (missing + changed > 0 || unsafe || interrupted) ? 1 : 0;
}

}  // namespace update

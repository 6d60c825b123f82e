#include "release/release_names.h"

#include "fileio/aside_name.h"
#include "fileio/io_util.h"
#include "log/logger.h"
#include "protocol/release_manifest.h"
#include "util/ascii_case.h"
#include "util/path_components.h"
#include "util/windows_names.h"

#include <map>

namespace {

// The relative path's own name when it lies at the top of the tree.
bool IsTopLevel(const std::string& relative, std::string* name) {
  if (relative.compare(0, 2, ".\\") != 0) return false;
  std::string rest = relative.substr(2);
  if (rest.find('\\') != std::string::npos) return false;
  *name = util::LowerAscii(rest);
  return true;
}

// A release is for Windows clients too, wherever it is built. A device name
// can never be installed there: refused. A name Windows changes or cannot
// hold, and two names Windows takes for one file, are warned about: a
// Windows client refuses that release, others take it. folds maps each
// path's Windows form to the first path that had it.
bool CheckWindowsNames(const VersionRecord& record, const std::string& relative,
                       std::map<std::string, std::string>* folds, const char* stage) {
  std::string folded;
  bool warned = false;
  for (const std::string& part : util::PathComponents(relative)) {
    if (util::IsWindowsDeviceName(part)) {
      LogError() << "Path [" << record.path << "] has the name [" << part
                 << "], which is a Windows device (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, "
                    "CONOUT$) and can never be installed on Windows; rename it or leave it out "
                    "with Filters.ini in ["
                 << stage << "]";
      return false;
    }
    std::string problem = util::WindowsNameProblem(part);
    if (!problem.empty() && !warned) {
      LogWarning() << "Path [" << record.path << "] has the name [" << part << "], which "
                   << problem << ": Windows clients refuse this release in [" << stage << "]";
      warned = true;
    }
    folded += util::WindowsFoldedName(part) + "\\";
  }
  auto first = folds->emplace(folded, record.path);
  if (!first.second && !warned) {
    LogWarning() << "Paths [" << first.first->second << "] and [" << record.path
                 << "] are one file on Windows: Windows clients refuse this release in [" << stage
                 << "]";
  }
  return true;
}

}  // namespace

bool CheckReleaseNames(const std::string& sourceDir, const VersionRecordList& scanList,
                       const std::vector<std::string>& tooLong, const char* stage) {
  bool fits = true;
  std::map<std::string, std::string> folds;
  for (const std::string& path : tooLong) {
    LogError() << "Path [" << path << "] is too long to be released in [" << stage << "]";
    fits = false;
  }
  for (const VersionRecord& record : scanList) {
    std::string relative;
    if (!GetRelPath(sourceDir.c_str(), record.path.c_str(), &relative) ||
        relative.size() > kMaxRecordPathLength) {
      LogError() << "Path [" << record.path << "] is too long for a version list (at most "
                 << kMaxRecordPathLength << " characters) in [" << stage << "]";
      fits = false;
      continue;
    }
    if (relative.find_first_of(",\r\n") != std::string::npos) {
      LogError() << "Path [" << record.path
                 << "] holds a comma or a line break, which a version list cannot carry; rename "
                    "it or leave it out with Filters.ini in ["
                 << stage << "]";
      fits = false;
      continue;
    }
    // A copy an updater moved aside (an install folder given as the source):
    // every client refuses a release naming one.
    size_t last = relative.find_last_of('\\');
    if (IsAsideName(last == std::string::npos ? relative : relative.substr(last + 1))) {
      LogError() << "File [" << record.path
                 << "] is an old copy an update moved aside, which no client installs; "
                    "leave it out with Filters.ini or remove it in ["
                 << stage << "]";
      fits = false;
      continue;
    }
    if (!CheckWindowsNames(record, relative, &folds, stage)) {
      fits = false;
      continue;
    }
    std::string name;
    if (IsTopLevel(relative, &name) &&
        (name == util::LowerAscii(kVersionListName) || name == util::LowerAscii(kListKeyName))) {
      LogError() << "File [" << record.path
                 << "] would be overwritten by the release's own version list or key file; "
                    "leave it out with Filters.ini in ["
                 << stage << "]";
      fits = false;
    }
  }
  return fits;
}

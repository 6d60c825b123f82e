#include "update/aside_copies.h"

#include <cstdio>

#include "fileio/aside_name.h"
#include "fileio/replacement_file.h"
#include "platform/file_safety.h"
#include "platform/platform.h"
#include "update/file_lines.h"
#include "update/fault_point.h"
#include "update/install_paths.h"

namespace update {

namespace {

// The record's line for a path below the install folder: ".\dir\name".
std::string ListPathOf(const std::vector<std::string>& parts) {
  std::string path = ".";
  for (const std::string& part : parts) path += "\\" + part;
  return path;
}

}  // namespace

AsideCopies::AsideCopies(const std::string& installDir, const std::string& temporary)
    : install_dir_(installDir),
      record_path_(JoinInstallPath(installDir, {kAsideListName})),
      temporary_(temporary) {}

std::vector<std::string> AsideCopies::ReadRecord() const {
  std::vector<std::string> lines;
  std::vector<std::string> paths;
  if (!ReadFileLines(record_path_, &lines)) return paths;
  for (std::string& line : lines) {
    if (!line.empty()) paths.push_back(std::move(line));
  }
  return paths;
}

bool AsideCopies::WriteRecord(const std::vector<std::string>& paths, std::string* error) const {
  if (paths.empty()) {
    FaultPoint();
    return plat::RemoveFile(record_path_.c_str()) || !EntryExists(record_path_);
  }
  std::string text;
  for (const std::string& path : paths) text += path + "\r\n";
  return ReplaceFileDurably(record_path_, temporary_, text, FaultPoint, error);
}

bool AsideCopies::RemoveUnused(std::string* error) {
  if (!EntryExists(record_path_)) return true;
  std::vector<std::string> recorded = ReadRecord();
  std::vector<std::string> kept;
  for (const std::string& path : recorded) {
    std::vector<std::string> parts;
    std::string reason;
    // Only names this updater gives its copies are ever removed, and never
    // through a link that leads out of the install folder.
    if (!SplitReleasePath(path, &parts, &reason) || !IsAsideName(parts.back())) continue;
    std::vector<std::string> folder(parts.begin(), parts.end() - 1);
    std::string dir = JoinInstallPath(install_dir_, folder);
    if (!folder.empty() && !plat::ResolvesInside(dir, install_dir_)) continue;
    std::string copy = JoinInstallPath(install_dir_, parts);
    if (!EntryExists(copy)) continue;
    FaultPoint();
    if (plat::RemoveFile(copy.c_str()) ||
        (!plat::IsFileInUse(copy) && plat::SetAttributesNormal(copy.c_str()) &&
         plat::RemoveFile(copy.c_str()))) {
      // The folder of a file that --prune removed goes with its last copy.
      RemoveEmptyFolders(install_dir_, parts);
      continue;
    }
    kept.push_back(path);  // still running: a later run tries again
  }
  if (kept == recorded) return true;
  return WriteRecord(kept, error);
}

AsideCopies::MoveResult AsideCopies::MoveAside(const std::string& target,
                                               const std::vector<std::string>& parts,
                                               std::string* aside, std::string* error) {
  *aside = AsidePathFor(target);
  if (aside->empty()) {
    *error = "no free name beside it fits the path limit";
    return MoveResult::kFailed;
  }
  std::vector<std::string> aside_parts = parts;
  aside_parts.back() = aside->substr(plat::FindLastSeparator(*aside) + 1);
  // Recorded first: a copy moved aside by a run that is then stopped is
  // still found by the next one. A record of a name that was never used
  // costs nothing.
  std::vector<std::string> paths = ReadRecord();
  paths.push_back(ListPathOf(aside_parts));
  if (!WriteRecord(paths, error)) return MoveResult::kFailed;
  FaultPoint();
  if (plat::RenameNoReplace(target, *aside)) return MoveResult::kMoved;
  if (plat::IsFileInUse(target)) return MoveResult::kHeld;
  *error = plat::LastErrorText();
  return MoveResult::kFailed;
}

}  // namespace update

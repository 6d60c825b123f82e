// filedist status [--dir DIR] [--json]: what an install folder holds, where
// it came from, and whether an update is waiting to be finished.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/cli_commands.h"
#include "cli/cli_platform.h"
#include "cli/command_line.h"
#include "cli/json_output.h"
#include "update/install_paths.h"
#include "update/install_status.h"

namespace {

Json StatusDocument(const std::string& dir, const update::InstallStatus& status) {
  Json doc = JsonDocument("status");
  doc["install_dir"] = dir;
  const bool recorded = status.record_state == update::RecordState::kRead;
  if (recorded) {
    const update::InstallRecord& record = status.record;
    Json release;
    release["patch"] = record.patch;
    release["sequence"] = record.has_sequence ? Json(record.sequence) : Json(nullptr);
    release["verified"] = record.verified;
    release["channel"] = record.channel;
    release["installed"] = record.installed;
    doc["release"] = release;
    doc["source"] = record.source;
  } else {
    doc["release"] = nullptr;
    doc["source"] = nullptr;
  }
  doc["record_damaged"] = status.record_state == update::RecordState::kDamaged;
  doc["files"] = status.listed_files;
  doc["journal_waiting"] = status.journal_waiting;
  doc["journal_files"] = status.journal_files;
  doc["staged_files"] = status.staged_files;
  doc["partial_files"] = status.partial_files;
  return doc;
}

void PrintStatus(const std::string& dir, const update::InstallStatus& status) {
  std::printf("install directory: %s\n", dir.c_str());
  if (status.record_state == update::RecordState::kRead) {
    const update::InstallRecord& record = status.record;
    std::string sequence =
        record.has_sequence ? "sequence " + std::to_string(record.sequence) : "no sequence";
    std::printf("release: %s (%s, %s)\n", record.patch.c_str(), sequence.c_str(),
                record.verified ? "signature verified" : "not verified");
    std::printf("channel: %s\n", record.channel.c_str());
    std::printf("installed: %s\n", record.installed.c_str());
    std::printf("source: %s\n", record.source.c_str());
  } else if (status.record_state == update::RecordState::kNone) {
    std::printf("release: none recorded (no update has finished here)\n");
  }
  std::printf("files: %zu listed in %s\n", status.listed_files, update::kClientListName);
  if (status.journal_waiting) {
    std::printf("waiting: an interrupted update of %zu files, which the next update finishes\n",
                status.journal_files);
  }
  if (status.staged_files > 0 || status.partial_files > 0) {
    std::printf("waiting: %zu checked files and %zu cut-off transfers in %s\n", status.staged_files,
                status.partial_files, update::kStagingName);
  }
  if (!status.journal_waiting && status.staged_files == 0 && status.partial_files == 0) {
    std::printf("waiting: nothing\n");
  }
}

}  // namespace

int RunStatusCommand(int argc, char** argv) {
  CommandLine line("status");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (!line.operands().empty()) return line.UsageError("status takes no operands");
  const bool json = line.Has("json");
  std::string dir = line.Has("dir") ? line.Value("dir") : ProgramDirectory();
  std::string error;
  std::error_code failure;
  if (dir.empty()) {
    error = "cannot find the directory of the filedist program";
  } else if (!std::filesystem::is_directory(dir, failure)) {
    error = "install directory '" + dir + "' does not exist";
  }
  update::InstallStatus status;
  if (error.empty()) {
    status = update::ReadInstallStatus(dir);
    if (status.record_state == update::RecordState::kDamaged) {
      error = "'" + update::JoinInstallPath(dir, {update::kInstallRecordName}) +
              "' is damaged; the next update with a SOURCE records it again";
    }
  }
  if (!error.empty()) std::fprintf(stderr, "filedist: %s\n", error.c_str());
  if (json) {
    Json doc = StatusDocument(dir, status);
    if (!error.empty()) SetJsonFailure(&doc, error);
    PrintJson(doc);
  } else if (!dir.empty() && std::filesystem::is_directory(dir, failure)) {
    PrintStatus(dir, status);
  }
  return error.empty() ? 0 : 1;
}

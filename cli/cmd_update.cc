// filedist update SOURCE [--dir DIR] [--prune [--force]] [--repair] [--dry-run]:
// brings an install directory up to the release in SOURCE through the
// update engine; and filedist verify [--dir DIR].
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/install_record_front.h"
#include "cli/cli_platform.h"
#include "cli/release_source.h"
#include "cli/update_front.h"
#include "cli/update_json.h"
#include "platform/file_safety.h"
#include "cli/update_progress.h"
#include "signing/channel_pointer.h"
#include "update/install_paths.h"
#include "update/install_status.h"
#include "update/install_verify.h"
#include "update/staging_cleanup.h"
#include "update/update_engine.h"

namespace {

// A whole number from low to high.
bool ParseCount(const char* text, long low, long high, int* value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  return true;
}

const char kNoProgramDirectory[] = "cannot find the directory of the filedist program";

// The install directory: --dir, or the program's folder.
bool InstallDir(const char* dir, std::string* out) {
  *out = dir != nullptr ? dir : ProgramDirectory();
  if (!out->empty()) return true;
  std::fprintf(stderr, "filedist: %s\n", kNoProgramDirectory);
  return false;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv) {
  CommandLine line("update");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.Has("clean")) {
    if (!line.operands().empty()) return line.UsageError("--clean takes no SOURCE");
    std::string install_dir;
    if (!InstallDir(line.Value("dir"), &install_dir)) return 1;
    ConsoleReporter reporter(line.Has("quiet"));
    return update::CleanStaging(install_dir, &reporter);
  }
  if (line.operands().size() > 1) return line.UsageError("only one SOURCE may be given");
  update::UpdateOptions options;
  options.prune = line.Has("prune");
  options.force = line.Has("force");
  options.repair = line.Has("repair");
  const bool check = line.Has("check");
  options.dry_run = line.Has("dry-run") || check;
  options.delta = !line.Has("no-delta");
  if (options.force && !options.prune) return line.UsageError("--force goes with --prune");
  options.jobs = 8;
  if (line.Has("jobs") && !ParseCount(line.Value("jobs"), 1, 64, &options.jobs)) {
    return line.UsageError("--jobs takes a number from 1 to 64");
  }
  FetchSettings fetch;
  if (line.Has("timeout") &&
      !ParseCount(line.Value("timeout"), 1, 86400, &fetch.transport.timeout_seconds)) {
    return line.UsageError("--timeout takes a number of seconds from 1 to 86400");
  }
  if (line.Has("retries") && !ParseCount(line.Value("retries"), 0, 100, &fetch.retry.retries)) {
    return line.UsageError("--retries takes a number from 0 to 100");
  }
  fetch.transport.ca_file = line.Value("ca", "");
  const bool json = line.Has("json");
  if (!InstallDir(line.Value("dir"), &options.install_dir)) {
    if (json) {
      Json doc = UpdateDocument(options, line.operands().empty() ? "" : line.operands()[0]);
      SetJsonFailure(&doc, kNoProgramDirectory);
      PrintJson(doc);
    }
    return 1;
  }
  // Without SOURCE, the one the last update of this folder recorded; without
  // --channel, the channel it followed.
  std::string remembered;
  update::InstallRecord record;
  const bool has_record =
      update::ReadInstallRecord(options.install_dir, &record) == update::RecordState::kRead;
  const std::string channel = line.Value("channel", has_record ? record.channel.c_str()
                                                               : kDefaultChannel);
  if (!IsChannelName(channel)) {
    return line.UsageError("--channel takes a name of letters, digits, '-' and '_'");
  }
  if (line.operands().empty()) {
    std::string error;
    if (!RememberedSource(options.install_dir, &remembered, &error)) {
      // Nothing to remember is what it always was: a usage error.
      if (!has_record && update::ReadInstallRecord(options.install_dir, &record) ==
                             update::RecordState::kNone) {
        return line.UsageError(error.c_str());
      }
      std::fprintf(stderr, "filedist: %s\n", error.c_str());
      if (json) {
        Json doc = UpdateDocument(options, "");
        SetJsonFailure(&doc, error);
        PrintJson(doc);
      }
      return 1;
    }
  }
  const std::string source_given = line.operands().empty() ? remembered : line.operands()[0];
  const char* source_text = source_given.c_str();
  options.trusted_key = line.Value("trust", "");
  options.allow_downgrade = line.Has("allow-downgrade");
  if (options.trusted_key.empty()) {
    // A key placed in the install directory is trusted without being named.
    // Whatever is at the name (a link that leads nowhere, a folder, a file
    // that cannot be read) counts: the update then fails naming it rather
    // than taking a release unverified.
    std::string placed = update::JoinInstallPath(options.install_dir, {update::kTrustedKeyName});
    if (plat::NameIsTaken(placed)) options.trusted_key = placed;
  }

  ReleaseSource source(source_text, fetch);
  std::string error;
  ChannelFollow follow;
  if (!source.Check(&error) ||
      !FollowChannel(&source, channel, options.trusted_key,
                     has_record && record.channel == channel ? record.pointer : 0,
                     options.install_dir, has_record ? record.patch : "", &follow, &error)) {
    std::fprintf(stderr, "filedist: %s\n", error.c_str());
    if (json) {
      Json doc = UpdateDocument(options, source.location());
      SetJsonFailure(&doc, error);
      PrintJson(doc);
    }
    return 1;
  }
  options.expected_sequence = follow.expected_sequence;
  const uint64_t pointer = follow.pointer;
  if (follow.held_back) {
    // Outside the rollout (or the rollout is halted): nothing new here yet.
    if (json) {
      Json doc = UpdateDocument(options, source.location());
      doc["held_back"] = true;
      if (check) doc["update_available"] = false;
      PrintJson(doc);
    } else if (!line.Has("quiet")) {
      std::printf("channel %s offers %s to %d%% of installs, not yet to this one: nothing to "
                  "do\n",
                  channel.c_str(), follow.offered.c_str(), follow.rollout);
    }
    return 0;
  }
  SourceFetcher fetcher(source);
  update::UpdateOutcome outcome;
  // After the run: a successful update records where it came from, and a
  // check turns the plan into its own exit status.
  auto conclude = [&](int status, std::vector<std::string>* problems) {
    if (status != 0) return status;
    const std::string patch = PatchNameOf(source.location());
    if (check) {
      if (IsUpToDate(options, outcome)) {
        if (!json) std::printf("up to date with %s\n", patch.c_str());
        return 0;
      }
      if (!json) {
        std::printf("an update is available: %s, %zu files to fetch, %s\n", patch.c_str(),
                    outcome.plan.fetch.size(), FormatBytes(outcome.plan.fetch_bytes).c_str());
      }
      return kUpdateAvailableStatus;
    }
    if (options.dry_run) return status;
    std::string error;
    if (!RecordInstalledRelease(options.install_dir, source_given, channel, pointer,
                                source.location(), outcome, &error)) {
      error = "the release is installed, but its source could not be recorded: " + error;
      std::fprintf(stderr, "filedist: %s\n", error.c_str());
      if (problems != nullptr) problems->push_back(error);
      return 1;
    }
    return status;
  };
  if (!json) {
    ConsoleReporter reporter(line.Has("quiet") || check);
    return conclude(update::RunUpdate(options, &fetcher, &reporter, &outcome), nullptr);
  }
  JsonReporter reporter;
  int status = update::RunUpdate(options, &fetcher, &reporter, &outcome);
  std::vector<std::string> problems = reporter.problems();
  int concluded = conclude(status, &problems);
  Json doc = UpdateDocument(options, source.location());
  AddUpdateOutcome(outcome, concluded == 1 ? 1 : status, problems, &doc);
  if (check) doc["update_available"] = concluded == kUpdateAvailableStatus;
  PrintJson(doc);
  return concluded;
}

int RunVerifyCommand(int argc, char** argv) {
  CommandLine line("verify");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (!line.operands().empty()) return line.UsageError("verify takes no operands");
  const bool json = line.Has("json");
  std::string install_dir;
  if (!InstallDir(line.Value("dir"), &install_dir)) {
    if (json) PrintJson(VerifyDocument(install_dir, {}, 1, {kNoProgramDirectory}));
    return 1;
  }
  if (!json) {
    ConsoleReporter reporter;
    int cleaned = line.Has("clean") ? update::CleanStaging(install_dir, &reporter) : 0;
    int status = update::RunVerify(install_dir, &reporter);
    return status != 0 ? status : cleaned;
  }
  JsonReporter reporter;
  update::VerifyOutcome outcome;
  int cleaned = line.Has("clean") ? update::CleanStaging(install_dir, &reporter) : 0;
  int status = update::RunVerify(install_dir, &reporter, &outcome);
  if (status == 0) status = cleaned;
  PrintJson(VerifyDocument(install_dir, outcome, status, reporter.problems()));
  return status;
}

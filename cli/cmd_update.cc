// filedist update [SOURCE] [--dir DIR] [--prune [--force]] [--repair] [--dry-run]
// [--wait-pid PID] [--then-run PROGRAM ARG...]: brings an install directory
// up to the release in SOURCE through the updater's C interface; and
// filedist verify [--dir DIR].
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_platform.h"
#include "cli/command_line.h"
#include "cli/install_record_front.h"
#include "cli/update_front.h"
#include "cli/update_json.h"
#include "cli/update_progress.h"
#include "filedist_update.h"
#include "platform/platform.h"
#include "platform/stop_requests.h"
#include "protocol/channel_pointer.h"
#include "update/install_paths.h"
#include "update/install_verify.h"
#include "update/staging_cleanup.h"
#include "update/update_engine.h"
#include "updater/remembered_source.h"
#include "updater/session_hooks.h"
#include "util/size_text.h"

namespace {

const char kNoProgramDirectory[] = "cannot find the directory of the filedist program";

// The download's progress function: Ctrl-C or a termination request cancels
// the download as a host's cancel does, so what came is kept for the next
// run instead of dying with the process.
int StopOnRequest(void* /*ctx*/, uint64_t /*done*/, uint64_t /*total*/, const char* /*path*/) {
  return plat::StopRequested() != 0 ? 1 : 0;
}

// The install directory: --dir, or the program's folder.
bool InstallDir(const char* dir, std::string* out) {
  *out = dir != nullptr ? dir : ProgramDirectory();
  if (!out->empty()) return true;
  std::fprintf(stderr, "filedist: %s\n", kNoProgramDirectory);
  return false;
}

// The folder an update installs into. The program's own folder only where
// it is an install of filedist's (or a fresh one holding nothing else): an
// installed filedist in /usr/bin or Program Files must not turn the
// system's folder into a release. False, with *error set, otherwise.
bool UpdateDir(const char* dir, std::string* out, std::string* error) {
  *out = dir != nullptr ? dir : ProgramDirectory();
  if (out->empty()) {
    *error = kNoProgramDirectory;
    return false;
  }
  if (dir != nullptr || update::IsInstallFolder(*out, ProgramFileName())) return true;
  *error = "'" + *out +
           "', the folder of this filedist program, holds other files and no update has run "
           "there; pass --dir DIR to name the folder to install into";
  return false;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv) {
  // --then-run PROGRAM ARG...: everything after the option is the program's,
  // options of its own included.
  std::vector<std::string> then_run;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--then-run") != 0) continue;
    then_run.assign(argv + i + 1, argv + argc);
    argc = i;
    if (then_run.empty()) {
      CommandLine usage("update");
      return usage.UsageError("--then-run needs a PROGRAM");
    }
    break;
  }
  CommandLine line("update");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.Has("then-run")) then_run = {line.Value("then-run")};
  uint64_t wait_pid = 0;
  if (line.Has("wait-pid") &&
      !ParseCount(line.Value("wait-pid"), 1, plat::LargestProcessId(), &wait_pid)) {
    return line.UsageError("--wait-pid takes a process id from 1 to " +
                           std::to_string(plat::LargestProcessId()));
  }
  const bool restart = wait_pid != 0 || !then_run.empty();
  const bool check = line.Has("check");
  if (restart && (line.Has("dry-run") || check)) {
    return line.UsageError("--wait-pid and --then-run do not go with --dry-run or --check");
  }
  if (line.Has("clean")) {
    if (!line.operands().empty()) return line.UsageError("--clean takes no SOURCE");
    std::string install_dir;
    if (!InstallDir(line.Value("dir"), &install_dir)) return 1;
    ConsoleReporter reporter(line.Has("quiet"));
    return update::CleanStaging(install_dir, &reporter);
  }
  if (line.operands().size() > 1) return line.UsageError("only one SOURCE may be given");
  if (line.Has("force") && !line.Has("prune")) return line.UsageError("--force goes with --prune");
  int unused_count = 0;
  if (line.Has("jobs") && !ParseCount(line.Value("jobs"), 1, 64, &unused_count)) {
    return line.UsageError("--jobs takes a number from 1 to 64");
  }
  int unused_seconds = 0;
  if (line.Has("timeout") && !ParseCount(line.Value("timeout"), 1, 86400, &unused_seconds)) {
    return line.UsageError("--timeout takes a number of seconds from 1 to 86400");
  }
  if (line.Has("retries") && !ParseCount(line.Value("retries"), 0, 100, &unused_count)) {
    return line.UsageError("--retries takes a number from 0 to 100");
  }
  const bool json = line.Has("json");
  update::UpdateOptions asked;  // what the document says was asked, before a session
  asked.prune = line.Has("prune");
  asked.dry_run = line.Has("dry-run") || check;
  asked.delta = !line.Has("no-delta");
  std::string dir_error;
  if (!UpdateDir(line.Value("dir"), &asked.install_dir, &dir_error)) {
    std::fprintf(stderr, "filedist: %s\n", dir_error.c_str());
    if (json) {
      Json doc = UpdateDocument(asked, line.operands().empty() ? "" : line.operands()[0]);
      SetJsonFailure(&doc, dir_error);
      PrintJson(doc);
    }
    return 1;
  }
  if (line.Has("channel") && !IsChannelName(line.Value("channel"))) {
    return line.UsageError("--channel takes a name of letters, digits, '-' and '_'");
  }
  // Without SOURCE, the session takes the one the last update of this
  // folder recorded; without --channel, the channel it followed.
  const bool remembered = line.operands().empty();
  const std::string source_given = remembered ? "" : line.operands()[0];
  if (!remembered && source_given.empty()) return line.UsageError("SOURCE is empty");

  // The run goes through the updater's C interface, as a host's does; the
  // program only shows what it says.
  std::unique_ptr<ConsoleReporter> console;
  std::unique_ptr<JsonReporter> collector;
  update::UpdateReporter* reporter = nullptr;
  if (json) {
    collector.reset(new JsonReporter);
    reporter = collector.get();
  } else {
    console.reset(new ConsoleReporter(line.Has("quiet") || check));
    reporter = console.get();
  }
  update::UpdateOutcome outcome;
  filedist_update* opened = nullptr;
  int code = filedist_update_open(asked.install_dir.c_str(),
                                  remembered ? nullptr : source_given.c_str(), &opened);
  std::unique_ptr<filedist_update, void (*)(filedist_update*)> session(opened,
                                                                       filedist_update_close);
  if (code != FILEDIST_UPDATE_OK && remembered && code != FILEDIST_UPDATE_E_LOCKED) {
    // Nothing to remember is what it always was: a usage error; a damaged
    // record is a failure.
    if (code == FILEDIST_UPDATE_E_USAGE) {
      return line.UsageError(
          ("SOURCE is missing, and no earlier update of '" + asked.install_dir + "' recorded one")
              .c_str());
    }
    const std::string error = filedist_update_error(nullptr);
    std::fprintf(stderr, "filedist: %s\n", error.c_str());
    if (json) {
      Json doc = UpdateDocument(asked, "");
      SetJsonFailure(&doc, error);
      PrintJson(doc);
    }
    return 1;
  }
  if (code != FILEDIST_UPDATE_OK) {
    reporter->Problem(filedist_update_error(nullptr));
  } else {
    updater::AttachReporter(session.get(), reporter, &outcome);
    static const char* const kValues[] = {"trust", "ca", "jobs", "timeout", "retries", "channel"};
    static const char* const kFlags[] = {"prune", "force", "repair", "dry-run", "allow-downgrade"};
    for (const char* name : kValues) {
      if (line.Has(name) && code == FILEDIST_UPDATE_OK) {
        code = filedist_update_set(session.get(), name, line.Value(name));
      }
    }
    for (const char* name : kFlags) {
      if (line.Has(name) && code == FILEDIST_UPDATE_OK) {
        code = filedist_update_set(session.get(), name, "1");
      }
    }
    if (check && code == FILEDIST_UPDATE_OK) {
      code = filedist_update_set(session.get(), "dry-run", "1");
    }
    if (line.Has("no-delta") && code == FILEDIST_UPDATE_OK) {
      code = filedist_update_set(session.get(), "no-delta", "1");
    }
    // The program always follows the recorded (or stable) channel and
    // records what it installed.
    if (code == FILEDIST_UPDATE_OK) code = filedist_update_set(session.get(), "remember", "1");
    if (code != FILEDIST_UPDATE_OK) return line.UsageError(filedist_update_error(session.get()));
    if (line.Has("dry-run") && !json && !line.Has("quiet")) {
      std::printf("install directory: %s\n", asked.install_dir.c_str());
    }
    code = filedist_update_check(session.get(), nullptr);
    const updater::ChannelFollow& follow = updater::FollowedChannel(session.get());
    if (follow.held_back) {
      // Outside the rollout (or the rollout is halted): nothing new here yet.
      if (json) {
        Json doc = UpdateDocument(updater::SessionOptions(session.get()),
                                  updater::SourceLocation(session.get()));
        doc["held_back"] = true;
        if (check) doc["update_available"] = false;
        PrintJson(doc);
      } else if (!line.Has("quiet")) {
        std::printf(
            "channel %s offers %s to %d%% of installs, not yet to this one: nothing to "
            "do\n",
            follow.channel.c_str(), follow.offered.c_str(), follow.rollout);
      }
      return 0;
    }
    if (code >= 0 && !asked.dry_run) {
      plat::CatchStopRequests();
      code = filedist_update_download(session.get(), StopOnRequest, nullptr);
      if (code == FILEDIST_UPDATE_E_CANCELLED && plat::StopRequested() != 0) {
        std::fprintf(stderr, "filedist: stopped; run 'filedist update' again to continue\n");
        if (json) {
          Json doc = UpdateDocument(updater::SessionOptions(session.get()),
                                    updater::SourceLocation(session.get()));
          AddUpdateOutcome(outcome, 1, collector->problems(), &doc);
          PrintJson(doc);
        }
        return plat::StopRequested();
      }
      if (code >= 0 && restart) {
        // The host goes on running while its update is fetched; it is
        // waited for only before its files change.
        int timeout = 30;
        if (line.Has("timeout")) ParseCount(line.Value("timeout"), 1, 86400, &timeout);
        std::vector<const char*> args;
        for (size_t i = 1; i < then_run.size(); ++i) args.push_back(then_run[i].c_str());
        args.push_back(nullptr);
        code =
            filedist_update_restart(session.get(), wait_pid, timeout,
                                    then_run.empty() ? nullptr : then_run[0].c_str(), args.data());
      } else if (code >= 0) {
        // Apply records the source and channel for the next run.
        code = filedist_update_apply(session.get());
      }
    }
  }
  int status = code < 0 ? 1 : 0;
  // After the run, a check turns the plan into its own exit status.
  std::vector<std::string> problems;
  if (collector) problems = collector->problems();
  int concluded = status;
  if (status == 0 && check) {
    const std::string patch = updater::PatchNameOf(updater::SourceLocation(session.get()));
    if (IsUpToDate(asked, outcome)) {
      if (!json) std::printf("up to date with %s\n", patch.c_str());
    } else {
      if (!json) {
        std::printf("an update is available: %s, %zu files to fetch, %s\n", patch.c_str(),
                    outcome.plan.fetch.size(), util::FormatSize(outcome.expected_bytes).c_str());
      }
      concluded = kUpdateAvailableStatus;
    }
  }
  if (!json) return concluded;
  std::string location = session ? updater::SourceLocation(session.get()) : source_given;
  Json doc = UpdateDocument(session ? updater::SessionOptions(session.get()) : asked, location);
  if (session && updater::SourceFailed(session.get())) {
    SetJsonFailure(&doc, filedist_update_error(session.get()));
  } else {
    AddUpdateOutcome(outcome, status, problems, &doc);
  }
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

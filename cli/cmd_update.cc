// filedist update SOURCE [--dir DIR] [--prune [--force]] [--repair] [--dry-run]:
// brings an install directory up to the release in SOURCE through the
// update engine; and filedist verify [--dir DIR].
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "cli/cli_platform.h"
#include "cli/release_source.h"
#include "cli/update_front.h"
#include "cli/update_json.h"
#include "update/install_paths.h"
#include "update/install_verify.h"
#include "update/update_engine.h"

namespace {

const char kUsage[] =
    "usage: filedist update SOURCE [--dir DIR] [--trust KEYFILE] [--allow-downgrade]\n"
    "                       [--prune [--force]] [--repair] [--dry-run] [--no-delta]\n"
    "                       [--jobs N] [--timeout SECONDS] [--retries N] [--ca FILE]\n"
    "                       [--quiet] [--json]\n"
    "\n"
    "Brings the install directory (DIR, or else the folder that holds this\n"
    "filedist program) up to the release in SOURCE: a Patch_* directory made by\n"
    "'filedist build', or the releases folder holding it, whose file LATEST\n"
    "names the newest one; given as a folder or as an http:// or https:// URL of\n"
    "a web server that serves one (through WinHTTP on Windows, libcurl elsewhere).\n"
    "\n"
    "The install directory's VerComp.dat lists what is installed (a missing one\n"
    "means nothing is). filedist fetches every file that is new or changed in\n"
    "the release into the folder .filedist-staging and checks its key there;\n"
    "only when every file has arrived whole are the installed files replaced,\n"
    "and VerComp.dat is written once. A run that was stopped is finished by the\n"
    "next one, which also reuses what was already fetched. One update at a time\n"
    "may run in a directory.\n"
    "\n"
    "  --dir DIR   install into DIR instead of the program's folder\n"
    "  --prune     remove the installed files that the release no longer lists\n"
    "              (files changed since they were installed are kept)\n"
    "  --force     with --prune, remove changed files too\n"
    "  --repair    re-key every installed file and fetch those that do not\n"
    "              match the release\n"
    "  --dry-run   print what would be fetched and removed; change no file\n"
    "  --no-delta  fetch whole files only; otherwise, where the release has a\n"
    "              binary patch from the installed file (keyed afresh) to the\n"
    "              new one, the patch is fetched and applied instead, and a\n"
    "              patch that fails falls back to the whole file\n"
    "  --jobs N    fetch up to N files at once (default 8)\n"
    "  --quiet     print nothing but errors\n"
    "  --json      print one JSON document on standard output and nothing else\n"
    "              there: the plan (with --dry-run), or the plan and what was\n"
    "              placed, removed, kept and failed; errors still go to\n"
    "              standard error (the shape is described in the README)\n"
    "  --timeout SECONDS\n"
    "              give up on a connection that takes longer, on a server that\n"
    "              sends nothing for that long, and on a transfer slower than\n"
    "              1 KiB a second over that long (default 30)\n"
    "  --retries N try a file again up to N times after a failure that may pass\n"
    "              (lost connection, time limit, HTTP 5xx, 429 or 408), waiting\n"
    "              longer each time; a file cut off part-way goes on where it\n"
    "              stopped where the server takes ranges (default 3)\n"
    "  --ca FILE   for https:// sources, trust the certificate authorities in\n"
    "              the PEM file FILE in place of the system's\n"
    "\n"
    "Proxies: on Windows, the proxy the system is set to (named, detected or\n"
    "by configuration script); elsewhere http_proxy, https_proxy and no_proxy.\n"
    "\n"
    "Signed releases: with a trusted public key (the file filedist.pub in the\n"
    "install directory, or --trust KEYFILE; made by 'filedist keygen'), the\n"
    "release must carry a Manifest signed with that key (filedist build --sign)\n"
    "before anything else is fetched; VerComp.dat, Ver and every fetched file\n"
    "must match its SHA-256 digests and sizes, and a release numbered below the\n"
    "installed one is refused. Any mismatch: nothing is replaced, exit 1. New\n"
    "files the Manifest marks executable get their execute bits (POSIX).\n"
    "Without a trusted key the release is taken as before, and filedist says\n"
    "that it is not verified.\n"
    "\n"
    "  --trust KEYFILE    the public key releases must be signed with\n"
    "  --allow-downgrade  take a signed release older than the installed one\n"
    "\n"
    "A release whose list names a path outside the install directory (absolute,\n"
    "with '..', or through a link that leads outside), or one of filedist's own\n"
    "files, is refused as a whole.\n"
    "\n"
    "Exit status: 0 when every file the release lists is installed with its\n"
    "key, 1 when something failed (run again to finish), 2 on a usage error.\n";

const char kVerifyUsage[] =
    "usage: filedist verify [--dir DIR] [--json]\n"
    "\n"
    "Re-keys every file that the install directory's VerComp.dat lists (DIR, or\n"
    "else the folder that holds this filedist program) and names the files that\n"
    "are missing or changed.\n"
    "\n"
    "  --json      print one JSON document instead: the number of files\n"
    "              checked and the missing and changed ones (the shape is\n"
    "              described in the README)\n"
    "\n"
    "Exit status: 0 when every listed file has its key, 1 otherwise, 2 on a\n"
    "usage error.\n";

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
  CommandLine line(kUsage, {{"dir", true}, {"prune", false}, {"force", false}, {"repair", false},
                            {"dry-run", false}, {"jobs", true}, {"timeout", true},
                            {"retries", true}, {"ca", true}, {"quiet", false}, {"trust", true},
                            {"allow-downgrade", false}, {"json", false},
                            {"no-delta", false}});
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().empty()) return line.UsageError("SOURCE is missing");
  if (line.operands().size() > 1) return line.UsageError("only one SOURCE may be given");
  const char* source_text = line.operands()[0].c_str();
  update::UpdateOptions options;
  options.prune = line.Has("prune");
  options.force = line.Has("force");
  options.repair = line.Has("repair");
  options.dry_run = line.Has("dry-run");
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
      Json doc = UpdateDocument(options, source_text);
      SetJsonFailure(&doc, kNoProgramDirectory);
      PrintJson(doc);
    }
    return 1;
  }
  options.trusted_key = line.Value("trust", "");
  options.allow_downgrade = line.Has("allow-downgrade");
  if (options.trusted_key.empty()) {
    // A key placed in the install directory is trusted without being named.
    std::string placed = update::JoinInstallPath(options.install_dir, {update::kTrustedKeyName});
    std::error_code unused;
    if (std::filesystem::exists(placed, unused)) options.trusted_key = placed;
  }

  ReleaseSource source(source_text, fetch);
  std::string error;
  if (!source.Check(&error) || !source.FollowLatest(&error)) {
    std::fprintf(stderr, "filedist: %s\n", error.c_str());
    if (json) {
      Json doc = UpdateDocument(options, source.location());
      SetJsonFailure(&doc, error);
      PrintJson(doc);
    }
    return 1;
  }
  SourceFetcher fetcher(source);
  if (!json) {
    ConsoleReporter reporter(line.Has("quiet"));
    return update::RunUpdate(options, &fetcher, &reporter);
  }
  JsonReporter reporter;
  update::UpdateOutcome outcome;
  int status = update::RunUpdate(options, &fetcher, &reporter, &outcome);
  Json doc = UpdateDocument(options, source.location());
  AddUpdateOutcome(outcome, status, reporter.problems(), &doc);
  PrintJson(doc);
  return status;
}

int RunVerifyCommand(int argc, char** argv) {
  CommandLine line(kVerifyUsage, {{"dir", true}, {"json", false}});
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
    return update::RunVerify(install_dir, &reporter);
  }
  JsonReporter reporter;
  update::VerifyOutcome outcome;
  int status = update::RunVerify(install_dir, &reporter, &outcome);
  PrintJson(VerifyDocument(install_dir, outcome, status, reporter.problems()));
  return status;
}

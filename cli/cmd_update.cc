// filedist update SOURCE [options]: brings the directory that
// holds the filedist program up to the release in SOURCE.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/cli_platform.h"
#include "cli/list_path.h"
#include "cli/release_source.h"
#include "cli/update_progress.h"
#include "cli/work_dir.h"
#include "common.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: filedist update SOURCE [--prune] [--dry-run] [--timeout SECONDS]\n"
    "                       [--retries N] [--ca FILE]\n"
    "\n"
    "Brings the folder that holds this filedist program (its install directory)\n"
    "up to the release in SOURCE: a Patch_* directory made by 'filedist build',\n"
    "or the releases folder holding it, whose file LATEST names the newest one;\n"
    "given as a folder or as an http:// or https:// URL of a web server that\n"
    "serves one (through WinHTTP on Windows, libcurl elsewhere).\n"
    "\n"
    "The install directory's VerComp.dat lists what is installed (a missing one\n"
    "means nothing is, and is created). filedist fetches every file that is new\n"
    "or changed in the release, checks its key and records it in VerComp.dat.\n"
    "Files the release no longer lists are kept unless --prune is given.\n"
    "\n"
    "  --prune     remove the installed files that the release no longer lists\n"
    "  --dry-run   print what would be fetched and removed; change nothing\n"
    "  --timeout SECONDS\n"
    "              give up on a connection that takes longer, on a server that sends\n"
    "              nothing for that long, and on a transfer slower than 1 KiB a\n"
    "              second over that long (default 30)\n"
    "  --retries N try a file again N times after a failure that may pass (lost\n"
    "              connection, time limit, HTTP 5xx or 429), waiting longer each\n"
    "              time; a partly fetched file goes on where it stopped where the\n"
    "              server takes ranges (default 3)\n"
    "  --ca FILE   trust the certificate authorities in the PEM file FILE, in place\n"
    "              of the system's, for https:// sources\n"
    "\n"
    "Proxies: on Windows, the proxy the system is set to; elsewhere http_proxy,\n"
    "https_proxy and no_proxy.\n"
    "\n"
    "A release whose list names a path outside the install directory (absolute,\n"
    "or with '..') is refused as a whole.\n"
    "\n"
    "Exit status: 0 when the install directory is up to date, 1 when something\n"
    "failed (what was placed stays placed and recorded; run again to finish),\n"
    "2 on a usage error.\n";

const char kListName[] = "VerComp.dat";
const char kKeyFileName[] = "Ver";

struct Options {
  const char* source = nullptr;
  bool prune = false;
  bool dry_run = false;
  FetchSettings fetch;
};

// A whole number from low to high.
bool ParseCount(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

// The longest list a release can hold is far below this; a server that sends
// more is not serving a release.
const uint64_t kListLimit = 1ull << 30;
const uint64_t kKeyFileLimit = 4096;

int UsageError(const char* reason) {
  std::fprintf(stderr, "filedist: %s\n%s", reason, kUsage);
  return 2;
}

int Fail(const std::string& text) {
  std::fprintf(stderr, "filedist: %s\n", text.c_str());
  return 1;
}

std::string KeyOf(const std::string& path) {
  char key[VERSION_KEY_SIZE] = {};
  QuietStdout quiet;
  GetFileKey(path.c_str(), key);
  return key;
}

bool IsListFile(const std::vector<std::string>& parts) {
  if (parts.size() != 1 || parts[0].size() != std::strlen(kListName)) return false;
  for (size_t i = 0; i < parts[0].size(); ++i) {
    char a = parts[0][i];
    char b = kListName[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// Fetches a release file that is itself gzip and decompresses it into plain.
bool FetchPlain(const ReleaseSource& source, const char* name, uint64_t max_size,
                const WorkDir& work, const std::string& plain, std::string* error) {
  std::string fetched = work.File("fetched.gz");
  if (!source.Fetch({name}, fetched, max_size, FileProgress(), error)) return false;
  if (!MakeClientFile(fetched.c_str(), plain.c_str())) {
    *error = std::string(name) + " is damaged";
    return false;
  }
  return true;
}

// The release's version list, checked against its key file, so that a
// half-uploaded release is not taken for a whole one.
int FetchReleaseList(const ReleaseSource& source, const WorkDir& work, std::string* list) {
  *list = work.File("release.dat");
  std::string error;
  if (!FetchPlain(source, kListName, kListLimit, work, *list, &error)) {
    return Fail("cannot fetch the version list from '" + source.location() + "': " + error);
  }
  std::string key_file = work.File("release.ver");
  if (!FetchPlain(source, kKeyFileName, kKeyFileLimit, work, key_file, &error)) {
    return Fail("cannot fetch the key file Ver from '" + source.location() + "': " + error);
  }
  std::ifstream in(key_file, std::ios::binary);
  std::string expected(32, '\0');
  in.read(&expected[0], 32);
  if (in.gcount() != 32 || KeyOf(*list) != expected) {
    return Fail("the release's VerComp.dat does not match its key file Ver; the release is "
                "incomplete or damaged, nothing was installed");
  }
  return 0;
}

struct Planned {
  VersionEntry entry;
  std::vector<std::string> parts;
};

struct Plan {
  std::vector<Planned> fetch;
  std::vector<Planned> obsolete;
  uint64_t fetch_bytes = 0;
};

// Refuses the whole release when one path would leave the install directory.
bool CheckReleasePaths(const std::string& list) {
  VersionEntry* records = nullptr;
  int count = 0;
  if (!LoadVersionInfo(list.c_str(), &records, &count)) {
    Fail("cannot read the release's version list");
    return false;
  }
  int refused = 0;
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> parts;
    std::string reason;
    if (!SplitListPath(records[i].path, &parts, &reason)) {
      if (++refused <= 10) {
        std::fprintf(stderr, "filedist: the release lists '%s', which %s\n", records[i].path,
                     reason.c_str());
      }
    }
  }
  FreeVersionInfo(&records);
  if (refused > 0) {
    Fail("refusing the release: " + std::to_string(refused) +
         " of its paths lie outside the install directory; nothing was installed");
    return false;
  }
  return true;
}

bool MakePlan(const std::string& release_list, const std::string& local_list, Plan* plan) {
  VersionEntry* records = nullptr;
  int count = 0;
  int total = 0;
  if (!GenerateUpdateList(release_list.c_str(), local_list.c_str(), &records, &count, &total)) {
    Fail("cannot compare the release with '" + local_list + "'");
    return false;
  }
  for (int i = 0; i < count; ++i) {
    Planned planned;
    planned.entry = records[i];
    std::string reason;
    if (!SplitListPath(records[i].path, &planned.parts, &reason)) {
      // Only the installed list can get here (the release's was checked):
      // such a file is never removed.
      std::fprintf(stderr, "filedist: ignoring '%s' of the installed list, which %s\n",
                   records[i].path, reason.c_str());
      continue;
    }
    if (records[i].flag == ENTRY_OBSOLETE) {
      plan->obsolete.push_back(planned);
    } else if (IsListFile(planned.parts)) {
      std::fprintf(stderr, "filedist: skipping '%s': it would replace the installed version list\n",
                   records[i].path);
    } else {
      plan->fetch.push_back(planned);
      // A size below zero is the low half of a count of 2 GiB or more.
      plan->fetch_bytes += static_cast<uint32_t>(records[i].size);
    }
  }
  FreeUpdateList(&records);
  return true;
}

void PrintPlan(const Plan& plan, bool prune) {
  std::printf("would fetch %zu files, %s\n", plan.fetch.size(),
              FormatBytes(plan.fetch_bytes).c_str());
  for (const Planned& item : plan.fetch) {
    std::printf("  %-7s %s (%s)\n", item.entry.flag == ENTRY_CHANGED ? "changed" : "new",
                item.entry.path, FormatBytes(static_cast<uint32_t>(item.entry.size)).c_str());
  }
  std::printf("%zu files are no longer in the release%s\n", plan.obsolete.size(),
              plan.obsolete.empty() ? "" : (prune ? " and would be removed" : " and would be kept"));
  for (const Planned& item : plan.obsolete) std::printf("  obsolete %s\n", item.entry.path);
}

// Fetches, places and records every planned file. Returns the failures.
int InstallFiles(const ReleaseSource& source, const WorkDir& work, const std::string& install_dir,
                 const std::string& local_list, const Plan& plan) {
  UpdateProgress progress(IsTerminal(stderr), plan.fetch_bytes, static_cast<int>(plan.fetch.size()));
  std::string fetched = work.File("download.gz");
  int failures = 0;
  for (const Planned& item : plan.fetch) {
    const VersionEntry& entry = item.entry;
    uint64_t size = static_cast<uint32_t>(entry.size);
    progress.StartFile(entry.path);
    std::string target = JoinBelow(install_dir, item.parts);
    std::string error;
    // The release lists the size of the file it serves: a server that
    // sends more is cut off there.
    if (!source.Fetch(item.parts, fetched, size, [&](uint64_t held) { progress.FileBytes(held); },
                      &error)) {
      error = "cannot fetch '" + std::string(entry.path) + "': " + error;
    } else if (!MakeClientFile(fetched.c_str(), target.c_str())) {
      error = "cannot place '" + target + "' (damaged download, or the file cannot be written)";
    } else if (KeyOf(target) != entry.key) {
      // Left in place but not recorded, so the next run fetches it again.
      error = "'" + target + "' does not have the key the release lists for it";
    } else if (!UpdateClientVersionInfo(local_list.c_str(), entry)) {
      error = "cannot record '" + std::string(entry.path) + "' in '" + local_list + "'";
    }
    if (!error.empty()) {
      ++failures;
      progress.Message("filedist: " + error);
    }
    progress.FinishFile(entry.path, size, error.empty());
  }
  progress.Finish();
  return failures;
}

// Removes now-empty folders from dir up to, not including, stop.
void RemoveEmptyParents(fs::path dir, const fs::path& stop) {
  std::error_code error;
  while (!dir.empty() && dir != stop && dir.has_relative_path()) {
    if (!fs::is_empty(dir, error) || error || !fs::remove(dir, error)) return;
    dir = dir.parent_path();
  }
}

int PruneFiles(const std::string& install_dir, const Plan& plan) {
  int failures = 0;
  for (const Planned& item : plan.obsolete) {
    fs::path target = JoinBelow(install_dir, item.parts);
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(target, error))) continue;
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add, error);
    if (!fs::remove(target, error)) {
      std::fprintf(stderr, "filedist: cannot remove '%s'\n", target.string().c_str());
      ++failures;
      continue;
    }
    std::printf("removed %s\n", item.entry.path);
    RemoveEmptyParents(target.parent_path(), fs::path(install_dir));
  }
  return failures;
}

int RunUpdate(const Options& options) {
  std::string install_dir = ProgramDirectory();
  if (install_dir.empty()) return Fail("cannot find the directory of the filedist program");
  ReleaseSource source(options.source, options.fetch);
  std::string error;
  if (!source.Check(&error)) return Fail(error);
  WorkDir work("filedist-update-");
  if (!work.ok()) return Fail("cannot make a temporary folder for downloads");
  if (!source.FollowLatest(work.File("latest.txt"), &error)) return Fail(error);

  std::string release_list;
  if (int status = FetchReleaseList(source, work, &release_list)) return status;
  if (!CheckReleasePaths(release_list)) return 1;

  std::string local_list = (fs::path(install_dir) / kListName).string();
  std::error_code missing;
  if (!fs::exists(local_list, missing)) {
    // Nothing installed yet. A dry run compares with an empty list of its
    // own and leaves the install directory alone.
    if (options.dry_run) local_list = work.File("installed.dat");
    if (!std::ofstream(local_list, std::ios::binary)) {
      return Fail("cannot create the version list '" + local_list + "'");
    }
  }
  Plan plan;
  if (!MakePlan(release_list, local_list, &plan)) return 1;
  if (options.dry_run) {
    PrintPlan(plan, options.prune);
    return 0;
  }

  int failures = 0;
  if (plan.fetch.empty()) {
    std::printf("already up to date with %s\n", source.location().c_str());
  } else {
    failures = InstallFiles(source, work, install_dir, local_list, plan);
    // What came over the network, retries and all; a folder source copies
    // the listed bytes.
    uint64_t moved = source.is_url() ? source.received() : plan.fetch_bytes;
    std::printf("fetched %zu of %zu files (%s %s) from %s\n", plan.fetch.size() - failures,
                plan.fetch.size(), FormatBytes(moved).c_str(),
                source.is_url() ? "received" : "copied", source.location().c_str());
  }
  if (options.prune) {
    failures += PruneFiles(install_dir, plan);
  } else if (!plan.obsolete.empty()) {
    std::printf("kept %zu files that the release no longer lists (--prune removes them)\n",
                plan.obsolete.size());
  }
  if (failures > 0) return Fail(std::to_string(failures) + " files failed; run again to retry");
  return 0;
}

}  // namespace

int RunUpdateCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  Options options;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--prune") == 0) {
      options.prune = true;
    } else if (std::strcmp(arg, "--dry-run") == 0) {
      options.dry_run = true;
    } else if (std::strcmp(arg, "--timeout") == 0 || std::strcmp(arg, "--retries") == 0 ||
               std::strcmp(arg, "--ca") == 0) {
      if (i + 1 >= argc) return UsageError("an option is missing its value");
      const char* value = argv[++i];
      long number = 0;
      if (std::strcmp(arg, "--ca") == 0) {
        options.fetch.transport.ca_file = value;
      } else if (std::strcmp(arg, "--timeout") == 0) {
        if (!ParseCount(value, 1, 86400, &number)) {
          return UsageError("--timeout takes a number of seconds from 1 to 86400");
        }
        options.fetch.transport.timeout_seconds = static_cast<int>(number);
      } else {
        if (!ParseCount(value, 0, 100, &number)) {
          return UsageError("--retries takes a number from 0 to 100");
        }
        options.fetch.retry.retries = static_cast<int>(number);
      }
    } else if (arg[0] == '-' && arg[1] == '-') {
      return UsageError("unknown option");
    } else if (options.source == nullptr) {
      options.source = arg;
    } else {
      return UsageError("only one SOURCE may be given");
    }
  }
  if (options.source == nullptr) return UsageError("SOURCE is missing");
  return RunUpdate(options);
}

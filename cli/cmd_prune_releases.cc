// filedist prune-releases RELEASES --keep N [--delta-window K] [--dry-run]:
// removes the older patch directories no channel and no coming build needs.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "interface/build_hooks.h"

int RunPruneReleasesCommand(int argc, char** argv) {
  CommandLine line("prune-releases");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 1) return line.UsageError("one RELEASES folder is needed");
  int keep = 0;
  if (!line.Has("keep") || !ParseCount(line.Value("keep"), 1, 1000000, &keep)) {
    return line.UsageError("--keep takes a number of releases, at least 1");
  }
  int window = 3;
  if (line.Has("delta-window") && !ParseCount(line.Value("delta-window"), 0, 1000000, &window)) {
    return line.UsageError("--delta-window takes a number from 0 up");
  }
  const bool dry_run = line.Has("dry-run");
  const std::string releases = line.operands()[0];
  std::error_code failure;
  if (!std::filesystem::is_directory(releases, failure)) {
    std::fprintf(stderr, "filedist: release folder '%s' does not exist\n", releases.c_str());
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> entries;
  std::vector<std::string> failed;
  std::string error;
  if (!PruneReleaseFolder(releases, keep, window, dry_run, &entries, &failed, &error)) {
    std::fprintf(stderr, "filedist: %s; nothing was removed\n", error.c_str());
    return 1;
  }
  size_t going = 0;
  for (const auto& [patch, reason] : entries) {
    if (reason.empty()) {
      ++going;
      std::printf("%s %s\n", dry_run ? "would remove" : "removed", patch.c_str());
    } else {
      std::printf("kept %s (%s)\n", patch.c_str(), reason.c_str());
    }
  }
  for (const std::string& patch : failed) {
    std::fprintf(stderr, "filedist: cannot remove '%s' entirely\n", patch.c_str());
  }
  std::printf("%zu patch directories %s, %zu kept\n", going - failed.size(),
              dry_run ? "would be removed" : "removed", entries.size() - going);
  return failed.empty() ? 0 : 1;
}

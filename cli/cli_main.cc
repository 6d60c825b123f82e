// filedist: builds releases, updates clients and drives the library's other
// services from the command line.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "cli/command_help.h"
#include "filedist_version.h"

namespace {

// Which function runs each command; their names, summaries and help are the
// table's in cli/command_help.def, and `filedist --help` lists them in its order.
const CliCommand kCommands[] = {
    {"build", RunBuildCommand},
    {"gzip", RunGzipCommand},
    {"gunzip", RunGunzipCommand},
    {"key", RunKeyCommand},
    {"keygen", RunKeygenCommand},
    {"list", RunListCommand},
    {"update", RunUpdateCommand},
    {"verify", RunVerifyCommand},
    {"status", RunStatusCommand},
    {"promote", RunPromoteCommand},
    {"prune-releases", RunPruneReleasesCommand},
    {"firewall", RunFirewallCommand},
};

void PrintUsage(FILE* out) { std::fputs(FormatProgramHelp().c_str(), out); }

// The edits (a letter added, dropped, changed, or two swapped) that turn a
// into b.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t change = d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, change});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The command a mistyped name was most likely meant to be; "" when none is
// close enough to suggest.
std::string ClosestCommand(const std::string& typed) {
  std::string best;
  size_t best_distance = 3;  // more than two edits is another word
  for (const CliCommand& command : kCommands) {
    size_t distance = EditDistance(typed, command.name);
    if (distance < best_distance && distance < std::strlen(command.name)) {
      best = command.name;
      best_distance = distance;
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("filedist %s\n", FILEDIST_VERSION_STRING);
    return 0;
  }
  for (const CliCommand& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
  }
  // A typo deserves a pointer to the command, not the whole help.
  const std::string closest = ClosestCommand(argv[1]);
  if (!closest.empty()) {
    std::fprintf(stderr, "filedist: unknown command '%s'; did you mean '%s'?\n", argv[1],
                 closest.c_str());
  } else {
    std::fprintf(stderr, "filedist: unknown command '%s'; 'filedist --help' lists the commands\n",
                 argv[1]);
  }
  return 2;
}

// filedist: builds releases, updates clients and drives the library's other
// services from the command line.
#include <cstdio>
#include <cstring>

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
  std::fprintf(stderr, "filedist: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}

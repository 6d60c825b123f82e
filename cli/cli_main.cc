// filedist: builds releases, updates clients and drives the library's other
// services from the command line.
#include <cstdio>
#include <cstring>

#include "cli/cli_commands.h"
#include "filedist_version.h"

namespace {

const CliCommand kCommands[] = {
    {"build", "build a release of a folder (Patch_* directory)", RunBuildCommand},
    {"gzip", "compress a file with the library's gzip engine", RunGzipCommand},
    {"gunzip", "expand a gzip file with the library's gzip engine", RunGunzipCommand},
    {"key", "print the file keys (MD5) of files", RunKeyCommand},
    {"keygen", "make an Ed25519 key pair for signing releases", RunKeygenCommand},
    {"list", "print a version list as a table", RunListCommand},
    {"update", "bring this program's folder up to a release", RunUpdateCommand},
    {"verify", "check the installed files against their keys", RunVerifyCommand},
    {"firewall", "open a port or authorise a program in the Windows Firewall",
     RunFirewallCommand},
};

void PrintUsage(FILE* out) {
  std::fprintf(out, "usage: filedist COMMAND [ARGS...]\n\ncommands:\n");
  for (const CliCommand& command : kCommands) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out, "\nfiledist COMMAND --help describes one command.\n");
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
  std::fprintf(stderr, "filedist: unknown command '%s'\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}

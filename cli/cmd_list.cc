// filedist list VERSIONLIST: a version list as a table.
#include <cstdio>

#include "cli/cli_commands.h"
#include "common.h"

int RunListCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv) || argc != 1) {
    std::fprintf(argc != 1 ? stderr : stdout,
                 "usage: filedist list VERSIONLIST\n"
                 "Prints the records of a plain version list (VerComp.dat): key, size, path.\n");
    return argc != 1 ? 2 : 0;
  }
  VersionEntry* records = nullptr;
  int count = 0;
  if (!LoadVersionInfo(argv[0], &records, &count)) {
    std::fprintf(stderr, "filedist: cannot read version list '%s'\n", argv[0]);
    return 1;
  }
  std::printf("%-32s %12s  %s\n", "KEY", "SIZE", "PATH");
  long long total = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("%-32s %12d  %s\n", records[i].key, records[i].size, records[i].path);
    total += records[i].size;
  }
  std::printf("%d files, %lld bytes\n", count, total);
  FreeVersionInfo(&records);
  return 0;
}

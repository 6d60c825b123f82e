// filedist key FILE...: the library prints "MD5 (FILE) = KEY" for each file.
#include <cstdio>

#include "cli/cli_commands.h"
#include "common.h"

int RunKeyCommand(int argc, char** argv) {
  if (WantsHelp(argc, argv) || argc == 0) {
    std::fprintf(argc == 0 ? stderr : stdout,
                 "usage: filedist key FILE...\n"
                 "Prints the file key (MD5 digest) of each FILE as \"MD5 (FILE) = KEY\".\n"
                 "Exit status 1 if a file cannot be read.\n");
    return argc == 0 ? 2 : 0;
  }
  int status = 0;
  for (int i = 0; i < argc; ++i) {
    // The library keys an unreadable file as 32 zeros; tell the user instead.
    FILE* probe = std::fopen(argv[i], "rb");
    if (probe == nullptr) {
      std::fprintf(stderr, "filedist: cannot read '%s'\n", argv[i]);
      status = 1;
      continue;
    }
    std::fclose(probe);
    char key[33];
    GetFileKey(argv[i], key);
  }
  std::fflush(stdout);
  return status;
}

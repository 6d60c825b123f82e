// filedist key FILE...: the library prints "MD5 (FILE) = KEY" for each file.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "fileio/file_key.h"

namespace {

// Why path could not be keyed, for the user; asked only after the key
// failed, so it never opens the file.
const char* Reason(const char* path) {
  std::error_code error;
  std::filesystem::file_status status = std::filesystem::status(path, error);
  switch (status.type()) {
    case std::filesystem::file_type::not_found:
      return "no such file";
    case std::filesystem::file_type::directory:
      return "is a directory";
    case std::filesystem::file_type::regular:
      return "cannot be read (no permission, or in use by another program)";
    case std::filesystem::file_type::none:
    case std::filesystem::file_type::unknown:
      return "cannot be examined";
    default:
      return "is not a regular file";
  }
}

}  // namespace

int RunKeyCommand(int argc, char** argv) {
  CommandLine line("key");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().empty()) return line.UsageError("key takes at least one FILE");
  int status = 0;
  for (const std::string& operand : line.operands()) {
    const char* file = operand.c_str();
    // The exported GetFileKey cannot say that it failed (an unreadable file
    // gets 32 zeros); the key operation behind it can. It refuses anything
    // but a regular file before reading, so a named pipe never blocks here.
    char key[kFileKeySize];
    if (!ComputeFileKey(file, key)) {
      std::fflush(stdout);
      std::fprintf(stderr, "filedist: cannot read '%s': %s\n", file, Reason(file));
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}

// filedist gzip SOURCE DEST and filedist gunzip SOURCE DEST: one file
// through the library's own gzip engine.
#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "zip_classes.h"

namespace {

// Runs zip_object on dest and turns its result into an exit status and at
// most one line of our own (the engine writes its own diagnostics).
int RunSwap(CMamaZip& zip_object, const char* command, const char* source, const char* dest) {
  int result;
  try {
    result = zip_object.SwapSize(dest);
  } catch (const CZipException& error) {
    std::fprintf(stderr, "filedist %s: %s: %s\n", command, source, error.GetString());
    return 1;
  }
  switch (result) {
    case 0:
      return 0;
    case -1:
      std::fprintf(stderr, "filedist %s: %s: not a gzip file or single-entry zip archive this engine reads\n",
                   command, source);
      return 1;
    case -10:
      std::fprintf(stderr, "filedist %s: source and destination are the same file\n", command);
      return 2;
    case -11:
      std::fprintf(stderr, "filedist %s: cannot open source '%s'\n", command, source);
      return 1;
    case -12:
      std::fprintf(stderr, "filedist %s: cannot open or create destination '%s'\n", command, dest);
      return 1;
    default:
      std::fprintf(stderr, "filedist %s: unexpected result %d\n", command, result);
      return 1;
  }
}

}  // namespace

int RunGzipCommand(int argc, char** argv) {
  CommandLine line("gzip");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 2) return line.UsageError("gzip takes SOURCE and DEST");
  const char* source = line.operands()[0].c_str();
  CZip zip(source);
  return RunSwap(zip, "gzip", source, line.operands()[1].c_str());
}

int RunGunzipCommand(int argc, char** argv) {
  CommandLine line("gunzip");
  if (int status = line.Parse(argc, argv); status >= 0) return status;
  if (line.operands().size() != 2) return line.UsageError("gunzip takes SOURCE and DEST");
  const char* source = line.operands()[0].c_str();
  CUnzip unzip(source);
  return RunSwap(unzip, "gunzip", source, line.operands()[1].c_str());
}

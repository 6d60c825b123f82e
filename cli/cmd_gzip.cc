// filedist gzip SOURCE DEST and filedist gunzip SOURCE DEST: one file
// through the library's own gzip engine (gunzip: see GunzipToFile).
#include <cstdio>

#include "cli/cli_commands.h"
#include "cli/command_line.h"
#include "fileio/gunzip_file.h"
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
      std::fprintf(
          stderr,
          "filedist %s: %s: not a gzip file or single-entry zip archive this engine reads\n",
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
  const char* dest = line.operands()[1].c_str();
  GunzipOutcome outcome;
  try {
    outcome = GunzipToFile(source, dest);
  } catch (const CZipException& error) {
    std::fprintf(stderr, "filedist gunzip: %s: %s\n", source, error.GetString());
    return 1;
  }
  switch (outcome) {
    case GunzipOutcome::kDone:
      return 0;
    case GunzipOutcome::kSameFile:
      std::fprintf(stderr, "filedist gunzip: source and destination are the same file\n");
      return 2;
    case GunzipOutcome::kNoSource:
      std::fprintf(stderr, "filedist gunzip: cannot open source '%s'\n", source);
      return 1;
    case GunzipOutcome::kNoDest:
      std::fprintf(stderr, "filedist gunzip: cannot open, write or replace destination '%s'\n",
                   dest);
      return 1;
    case GunzipOutcome::kNotGzip:
      std::fprintf(stderr,
                   "filedist gunzip: %s: not a gzip file or single-entry zip archive this engine "
                   "reads\n",
                   source);
      return 1;
    case GunzipOutcome::kReadFailed:
      std::fprintf(stderr, "filedist gunzip: %s: cannot be read to its end\n", source);
      return 1;
    case GunzipOutcome::kLaterMemberBad:
      std::fprintf(stderr,
                   "filedist gunzip: %s: a gzip member after the first is damaged or cut short "
                   "(invalid compressed data, or its CRC-32 or length does not match)\n",
                   source);
      return 1;
    case GunzipOutcome::kEngineFailed:
    default:
      std::fprintf(stderr, "filedist gunzip: %s: damaged\n", source);
      return 1;
  }
}

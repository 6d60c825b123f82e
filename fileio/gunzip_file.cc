#include "fileio/gunzip_file.h"

#include <cstdio>
#include <cstring>

#include "fileio/gzip_decompress.h"
#include "fileio/replacement_file.h"
#include "platform/platform.h"
#include "util/scoped_file.h"
#include "zip_classes.h"

namespace {

// The engine's run on source, into the temporary file path: its result, with
// its own message on standard error when it refuses or fails.
int RunEngine(const char* source, const char* path) {
  CUnzip unzip(source);
  return unzip.SwapSize(path);
}

}  // namespace

GunzipOutcome GunzipToFile(const char* source, const char* dest) {
  if (std::strcmp(source, dest) == 0 || plat::IsSameFile(source, dest)) {
    return GunzipOutcome::kSameFile;
  }
  util::ScopedFile in(plat::OpenFile(source, "rb"));
  if (!in) return GunzipOutcome::kNoSource;
  unsigned char magic[2] = {};
  bool gzip = std::fread(magic, 1, 2, in.get()) == 2 && magic[0] == 0x1f && magic[1] == 0x8b;
  std::rewind(in.get());

  ReplacementFile out;
  if (!out.Create(dest)) return GunzipOutcome::kNoDest;
  if (!gzip) {
    // A zip archive, another method the engine knows, or a refusal in the
    // engine's words.
    in.reset();
    int result = RunEngine(source, out.path());
    if (result == -1) return GunzipOutcome::kNotGzip;
    if (result == -11) return GunzipOutcome::kNoSource;
    if (result != 0) return GunzipOutcome::kNoDest;
    return out.Commit() ? GunzipOutcome::kDone : GunzipOutcome::kNoDest;
  }
  switch (DecompressStream(in.get(), out.file())) {
    case DecompressStatus::kOk:
      return out.Commit() ? GunzipOutcome::kDone : GunzipOutcome::kNoDest;
    case DecompressStatus::kReadError:
      return GunzipOutcome::kReadFailed;
    case DecompressStatus::kWriteError:
      return GunzipOutcome::kNoDest;
    default:
      break;
  }
  // Damaged. The engine says what is wrong where it can, as this command has
  // always said it; what it writes goes to the temporary file, which goes.
  in.reset();
  int result = RunEngine(source, out.path());
  if (result == -1) return GunzipOutcome::kNotGzip;
  return result == 0 ? GunzipOutcome::kLaterMemberBad : GunzipOutcome::kEngineFailed;
}

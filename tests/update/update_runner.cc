// Runs the update engine on an install folder from a release folder, for the
// crash tests: with --crash-at N the process ends at the Nth change the
// engine is about to make to the disk, as abruptly as a kill -9.
//
// With --full-disk-at N every write from the Nth change on fails as on a
// full disk (where the system can limit file sizes; exit 87 where not).
// With --hold LIBRARY the runner first loads that copy of the project's
// shared library, so that the update meets a library in use.
//
// With --trust KEY releases must be signed with that public key.
//
//   update_runner INSTALL RELEASE [--prune] [--crash-at N] [--full-disk-at N]
//                 [--hold LIBRARY] [--trust KEY]
//
// Prints "points: K" (the changes a whole run made) at the end; exits with
// the engine's status, or 86 at the crash.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "holder/library_hold.h"
#include "support/file_size_limit.h"
#include "update/fault_point.h"
#include "update/folder_fetcher.h"
#include "update/update_engine.h"

namespace {

int g_crash_at = 0;
int g_full_disk_at = 0;

void CrashHere(int point) {
  if (point == g_crash_at) std::_Exit(86);
  if (point == g_full_disk_at && !LimitFileSize(0)) std::_Exit(87);
}

class PrintingReporter : public update::UpdateReporter {
 public:
  void Note(const std::string& line) override { std::printf("%s\n", line.c_str()); }
  void Problem(const std::string& line) override { std::printf("problem: %s\n", line.c_str()); }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: update_runner INSTALL RELEASE [--prune] [--crash-at N]\n");
    return 2;
  }
  update::UpdateOptions options;
  options.install_dir = argv[1];
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--prune") == 0) {
      options.prune = true;
    } else if (std::strcmp(argv[i], "--crash-at") == 0 && i + 1 < argc) {
      g_crash_at = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--full-disk-at") == 0 && i + 1 < argc) {
      g_full_disk_at = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--trust") == 0 && i + 1 < argc) {
      options.trusted_key = argv[++i];
    } else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) {
      if (LoadLibraryExport(argv[++i], "MakeDirTree") == nullptr) return 2;
    } else {
      return 2;
    }
  }
  update::SetFaultHook(CrashHere);
  testing_support::FolderFetcher fetcher(argv[2]);
  PrintingReporter reporter;
  int status = update::RunUpdate(options, &fetcher, &reporter);
  std::printf("points: %d\n", update::FaultPointsPassed());
  return status;
}
